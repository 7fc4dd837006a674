// The rights of the programs one process has been judged for, loaded once per
// program from the signed registry records.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>

#include "client/DevicePathTranslator.h"
#include "client/ProgramRights.h"
#include "common/UniqueResource.h"

namespace quenvar {

// Under HKEY_CURRENT_USER; one 42-byte REG_BINARY value per program path.
constexpr const wchar_t* kRightsKeyPath = L"Software\\Quenvar\\Lockmere\\Rights\\";

// Whether Windows File Protection guards the file. RightsFor asks through
// fileProtectionCheck, which is IsFileProtectedBySystem unless a test stands in
// for a protected-file list.
using FileProtectionCheck = bool (*)(const wchar_t* path);
// SfcIsFileProtected(NULL, path) of sfc.dll, loaded on first use; false when
// sfc.dll or its export is missing.
bool IsFileProtectedBySystem(const wchar_t* path);
extern FileProtectionCheck fileProtectionCheck;

// Reads a program's stored record: RegQueryValueExW of the value named by the
// path, type ignored. RightsFor reads through storedRightsReader, which is
// ReadStoredRights unless a test counts the reads.
using StoredRightsReader = LONG (*)(HKEY rightsKey, const wchar_t* path, uint8_t* buffer, DWORD* size);
LONG ReadStoredRights(HKEY rightsKey, const wchar_t* path, uint8_t* buffer, DWORD* size);
extern StoredRightsReader storedRightsReader;

// Told after Save has stored a decision, with the full masks. Null until the
// program start points it at the access control list (MainWindow::UpdateProgram);
// Save then skips the notification.
using ProgramRightsSaved = void (*)(const std::wstring& path, uint32_t allowedMask, uint32_t deniedMask);
extern ProgramRightsSaved programRightsSaved;

class ProcessRightsCache {
public:
    // Opens the process for SYNCHRONIZE only; processHandle stays null when
    // the process cannot be opened.
    explicit ProcessRightsCache(uint32_t processId);
    virtual ~ProcessRightsCache() = default;
    ProcessRightsCache(const ProcessRightsCache&) = delete;
    ProcessRightsCache& operator=(const ProcessRightsCache&) = delete;

    // The program's entry, loaded on first use. The reference stays valid
    // until the entry is erased.
    ProgramRights& RightsFor(const std::wstring& path);

    // Stores the record's masks as a freshly sealed registry record under the
    // path, then tells programRightsSaved.
    void Save(ProgramRights& record, const std::wstring& path);

    // Keyed by path exactly, case-sensitive.
    std::map<std::wstring, ProgramRights> rights;
    // The long forms this process's events were translated to; they live and
    // die with the process's cache, so a reused process id starts afresh.
    LongForms longForms;
    uint32_t processId;
    UniqueHandle processHandle;
    // The store's lookup count when the cache was last handed out.
    uint64_t lastLookup = 0;
};

}  // namespace quenvar
