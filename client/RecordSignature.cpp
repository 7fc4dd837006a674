#include "client/RecordSignature.h"

#include <windows.h>

#include <cstring>
#include <new>

#include "common/UniqueResource.h"

namespace quenvar {

const uint8_t kBuiltInMachineKey[kMachineKeySize] = {'T', 'z', '5', '#', '4', '0', '!', 'k', 'v', 'b',
                                                     's', 'e', 'w', 'l', 'c', '*', 'M', 'R', 'd', 0};

uint8_t MachineKey[kMachineKeySize] = {'T', 'z', '5', '#', '4', '0', '!', 'k', 'v', 'b',
                                       's', 'e', 'w', 'l', 'c', '*', 'M', 'R', 'd', 0};

bool machineKeyTried = false;

MachineIdentityReader machineIdentityReader = ReadMachineIdentity;

bool ReadMachineIdentity(std::vector<uint8_t>* identity) {
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\", 0,
                      KEY_QUERY_VALUE, key.receive()) != ERROR_SUCCESS) {
        return false;
    }
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), L"DigitalProductId", nullptr, nullptr, nullptr, &size) !=
        ERROR_SUCCESS) {
        return false;
    }
    std::vector<uint8_t> bytes;
    try {
        bytes.resize(size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    // A failed second read would leave the buffer without the identity; the key
    // derived from it would then differ from run to run.
    if (RegQueryValueExW(key.get(), L"DigitalProductId", nullptr, nullptr, bytes.data(), &size) !=
        ERROR_SUCCESS) {
        return false;
    }
    bytes.resize(size);
    *identity = std::move(bytes);
    return true;
}

void DeriveMachineKey() {
    if (machineKeyTried) return;
    // Set before the attempt, so that a failed attempt is not repeated.
    machineKeyTried = true;
    std::vector<uint8_t> identity;
    if (!machineIdentityReader(&identity)) return;
    const Sha1Digest digest = Sha1Of(identity.data(), identity.size());
    std::memcpy(MachineKey, digest.data(), kMachineKeySize);
}

Sha1Digest Fingerprint(const wchar_t* path) {
    Sha1 sha;
    // A file that cannot be opened contributes no bytes.
    sha.UpdateFromFile(path);
    sha.Final();
    Sha1Digest masked;
    sha.MaskDigest(masked.data(), MachineKey);
    return masked;
}

Sha1Digest Seal(const uint8_t payload[kRecordPayloadSize]) {
    Sha1 sha;
    sha.Update(payload, kRecordPayloadSize);
    sha.Final();
    Sha1Digest masked;
    sha.MaskDigest(masked.data(), MachineKey);
    return masked;
}

bool Verify(const uint8_t* stored, size_t length, const uint8_t fingerprint[kSha1DigestSize]) {
    if (stored == nullptr || length != kRightsRecordSize) return false;
    if (std::memcmp(stored + offsetof(RightsRecord, fingerprint), fingerprint, kSha1DigestSize) != 0) {
        return false;
    }
    const Sha1Digest seal = Seal(stored);
    return std::memcmp(stored + offsetof(RightsRecord, seal), seal.data(), kSha1DigestSize) == 0;
}

RightsRecord BuildRecord(uint32_t deniedMask, uint32_t allowedMask,
                         const uint8_t fingerprint[kSha1DigestSize]) {
    RightsRecord record;
    record.deniedByte = uint8_t(deniedMask & 0xFF);
    record.allowedByte = uint8_t(allowedMask & 0xFF);
    std::memcpy(record.fingerprint, fingerprint, kSha1DigestSize);
    const Sha1Digest seal = Seal(reinterpret_cast<const uint8_t*>(&record));
    std::memcpy(record.seal, seal.data(), kSha1DigestSize);
    return record;
}

}  // namespace quenvar
