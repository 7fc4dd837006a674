#include "client/ProcessRightsCache.h"

#include <cstring>

#include "client/RecordSignature.h"

namespace quenvar {

namespace {

using SfcIsFileProtectedFn = BOOL(WINAPI*)(HANDLE rpcHandle, LPCWSTR fileName);

// Loaded by name: the i686 toolchain has no import library for sfc.dll.
// Deliberately never freed: the link thread may ask until the process ends.
SfcIsFileProtectedFn LoadSfcIsFileProtected() {
    HMODULE sfc = LoadLibraryW(L"sfc.dll");
    if (sfc == nullptr) return nullptr;
    return reinterpret_cast<SfcIsFileProtectedFn>(
        reinterpret_cast<void*>(GetProcAddress(sfc, "SfcIsFileProtected")));
}

bool OpenRightsKey(UniqueRegKey* key) {
    // Created when missing, so that the first decision can be stored.
    return RegCreateKeyExW(HKEY_CURRENT_USER, kRightsKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                           key->receive(), nullptr) == ERROR_SUCCESS;
}

}  // namespace

bool IsFileProtectedBySystem(const wchar_t* path) {
    // sfc.dll stays loaded for the rest of the run.
    static const SfcIsFileProtectedFn sfcIsFileProtected = LoadSfcIsFileProtected();
    return sfcIsFileProtected != nullptr && sfcIsFileProtected(nullptr, path) != FALSE;
}

FileProtectionCheck fileProtectionCheck = IsFileProtectedBySystem;

LONG ReadStoredRights(HKEY rightsKey, const wchar_t* path, uint8_t* buffer, DWORD* size) {
    return RegQueryValueExW(rightsKey, path, nullptr, nullptr, buffer, size);
}

StoredRightsReader storedRightsReader = ReadStoredRights;

ProgramRightsSaved programRightsSaved = nullptr;

ProcessRightsCache::ProcessRightsCache(uint32_t processId)
    : processId(processId), processHandle(OpenProcess(SYNCHRONIZE, FALSE, processId)) {}

ProgramRights& ProcessRightsCache::RightsFor(const std::wstring& path) {
    const auto found = rights.find(path);
    if (found != rights.end()) return found->second;

    ProgramRights record;
    if (fileProtectionCheck(path.c_str())) {
        // Trusted without asking; never prompted for, so never saved.
        record.allowedMask = 0xFFFFFFFF;
        record.deniedMask = 0;
        return rights.emplace(path, record).first->second;
    }

    const Sha1Digest fingerprint = Fingerprint(path.c_str());
    uint8_t* image = reinterpret_cast<uint8_t*>(&record.registryImage);
    bool valid = false;
    UniqueRegKey key;
    if (OpenRightsKey(&key)) {
        DWORD size = kRightsRecordSize;
        if (storedRightsReader(key.get(), path.c_str(), image, &size) == ERROR_SUCCESS &&
            size == kRightsRecordSize && Verify(image, size, fingerprint.data())) {
            record.deniedMask = record.registryImage.deniedByte;
            record.allowedMask = record.registryImage.allowedByte;
            valid = true;
        }
        key.reset();
    }
    if (!valid) {
        // Not settled: a later Save seals the answer with this fingerprint.
        record.registryImage = RightsRecord{};
        std::memcpy(record.registryImage.fingerprint, fingerprint.data(), kSha1DigestSize);
    }
    return rights.emplace(path, record).first->second;
}

void ProcessRightsCache::Save(ProgramRights& record, const std::wstring& path) {
    UniqueRegKey key;
    if (!OpenRightsKey(&key)) return;
    // The fingerprint is the one taken at load time; the file is not hashed again.
    record.registryImage = BuildRecord(record.deniedMask, record.allowedMask, record.registryImage.fingerprint);
    RegSetValueExW(key.get(), path.c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>(&record.registryImage),
                   DWORD(kRightsRecordSize));
    key.reset();
    if (programRightsSaved != nullptr) programRightsSaved(path, record.allowedMask, record.deniedMask);
}

}  // namespace quenvar
