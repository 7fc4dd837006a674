#include "client/ProgramInfo.h"
#include "common/WideFormat.h"

#include <windows.h>

#include <cwchar>
#include <new>
#include <vector>

namespace quenvar {

namespace {

struct VersionString {
    const wchar_t* name;
    std::wstring ProgramInfo::*field;
};

// Queried in this order; each replaces its field only when it has text.
const VersionString kVersionStrings[] = {
    {L"FileDescription", &ProgramInfo::displayName}, {L"Comments", &ProgramInfo::comments},
    {L"FileVersion", &ProgramInfo::fileVersion},     {L"CompanyName", &ProgramInfo::companyName},
    {L"ProductName", &ProgramInfo::productName},     {L"ProductVersion", &ProgramInfo::productVersion},
    {L"LegalCopyright", &ProgramInfo::legalCopyright},
};

struct LanguageAndCodePage {
    WORD language;
    WORD codePage;
};

}  // namespace

std::wstring FileNameOfPath(const std::wstring& path) {
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

ProgramInfo::ProgramInfo(const std::wstring& path)
    : displayName(FileNameOfPath(path)),
      comments(kNotAvailable),
      path(path),
      fileVersion(kNotAvailable),
      companyName(kNotAvailable),
      productName(kNotAvailable),
      productVersion(kNotAvailable),
      legalCopyright(kNotAvailable),
      allowedMask(0),
      deniedMask(0) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return;

    std::vector<BYTE> block;
    try {
        block.resize(size);
    } catch (const std::bad_alloc&) {
        return;
    }
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return;

    void* translation = nullptr;
    UINT translationBytes = 0;
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &translation, &translationBytes) ||
        translation == nullptr || translationBytes < sizeof(LanguageAndCodePage)) {
        return;
    }
    const auto* first = static_cast<const LanguageAndCodePage*>(translation);

    for (const VersionString& entry : kVersionStrings) {
        wchar_t query[96];
        FormatInto(query, 96, L"\\StringFileInfo\\%04x%04x\\%ls", first->language, first->codePage, entry.name);
        void* value = nullptr;
        UINT length = 0;
        // The length counts the terminating zero: an empty string keeps the default.
        if (VerQueryValueW(block.data(), query, &value, &length) && value != nullptr && length > 1)
            this->*entry.field = std::wstring(static_cast<const wchar_t*>(value),
                                              wcsnlen(static_cast<const wchar_t*>(value), length));
    }
}

ProgramInfo::~ProgramInfo() = default;

}  // namespace quenvar
