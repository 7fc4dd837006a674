// A file with the given contents in the temporary folder, removed with the object.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace quenvar::testing {

class TempFile {
public:
    explicit TempFile(const std::vector<uint8_t>& contents, const wchar_t* prefix = L"tmp") {
        wchar_t directory[MAX_PATH];
        wchar_t name[MAX_PATH];
        GetTempPathW(MAX_PATH, directory);
        GetTempFileNameW(directory, prefix, 0, name);
        path_ = name;
        FILE* file = _wfopen(path_.c_str(), L"wb");
        if (file != nullptr) {
            if (!contents.empty()) std::fwrite(contents.data(), 1, contents.size(), file);
            std::fclose(file);
        }
    }
    ~TempFile() { DeleteFileW(path_.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const wchar_t* path() const { return path_.c_str(); }

private:
    std::wstring path_;
};

}  // namespace quenvar::testing
