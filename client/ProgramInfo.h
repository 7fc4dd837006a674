// The identity of a program file as it describes itself in its version
// resource: what the user sees when deciding about the program.
#pragma once

#include <cstdint>
#include <string>

namespace quenvar {

// What a field shows when the version resource does not say.
constexpr const wchar_t* kNotAvailable = L"N/A";

class ProgramInfo {
public:
    // Reads the version resource of the file at `path`. A file without one (or
    // without a translation entry) keeps the defaults: "N/A" and its file name.
    explicit ProgramInfo(const std::wstring& path);
    virtual ~ProgramInfo();

    // The FileDescription, else the file name.
    std::wstring displayName;
    std::wstring comments;
    std::wstring path;
    std::wstring fileVersion;
    std::wstring companyName;
    std::wstring productName;
    std::wstring productVersion;
    std::wstring legalCopyright;
    // Kept here by the access control list; 0 from construction.
    uint32_t allowedMask;
    uint32_t deniedMask;
};

// The part of `path` after its last backslash, or the whole path without one.
std::wstring FileNameOfPath(const std::wstring& path);

}  // namespace quenvar
