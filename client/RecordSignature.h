// Rights records: a program's 42-byte registry value carries a fingerprint of
// the program file and a seal over the record, both masked with a key derived
// from this machine's identity. The seal detects a damaged record and one
// copied from another machine; the fingerprint, a changed program file. It
// does not stop a program running as the user: the identity is readable by
// any program, and since the mask is an XOR, one stored record gives the key
// away, so such a program can write records of its own. The format is kept
// for the records users already have.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/Sha1.h"

namespace quenvar {

constexpr size_t kMachineKeySize = 20;
constexpr size_t kRightsRecordSize = 42;
constexpr size_t kRecordPayloadSize = 22;  // denied byte, allowed byte, fingerprint

#pragma pack(push, 1)
struct RightsRecord {
    uint8_t deniedByte;
    uint8_t allowedByte;
    uint8_t fingerprint[20];
    uint8_t seal[20];
};
#pragma pack(pop)

static_assert(sizeof(RightsRecord) == kRightsRecordSize);
static_assert(offsetof(RightsRecord, deniedByte) == 0);
static_assert(offsetof(RightsRecord, allowedByte) == 1);
static_assert(offsetof(RightsRecord, fingerprint) == 2);
static_assert(offsetof(RightsRecord, seal) == kRecordPayloadSize);

// The key every run starts with: 19 characters and their terminating zero, all
// 20 bytes used in masking.
extern const uint8_t kBuiltInMachineKey[kMachineKeySize];

// The key in use; the built-in key until DeriveMachineKey replaces it.
extern uint8_t MachineKey[kMachineKeySize];
// Set by the first DeriveMachineKey of the run, before it tries anything.
extern bool machineKeyTried;

// Reads the raw "DigitalProductId" data; false when the key or value cannot be
// read. DeriveMachineKey reads through machineIdentityReader, which is
// ReadMachineIdentity unless a test stands in for the registry.
using MachineIdentityReader = bool (*)(std::vector<uint8_t>* identity);
bool ReadMachineIdentity(std::vector<uint8_t>* identity);
extern MachineIdentityReader machineIdentityReader;

// Replaces MachineKey with the SHA-1 of the machine identity; once per run,
// even when it fails (the built-in key then stays).
void DeriveMachineKey();

// SHA-1 of the file's contents masked with MachineKey; a file that cannot be
// opened counts as empty.
Sha1Digest Fingerprint(const wchar_t* path);

// SHA-1 of the 22 payload bytes masked with MachineKey.
Sha1Digest Seal(const uint8_t payload[kRecordPayloadSize]);

// True only for exactly 42 stored bytes whose fingerprint equals the current
// one and whose seal matches bytes 0-21.
bool Verify(const uint8_t* stored, size_t length, const uint8_t fingerprint[kSha1DigestSize]);

// The record to store: the low bytes of both masks, the fingerprint taken when
// the rights were loaded, and the seal over them.
RightsRecord BuildRecord(uint32_t deniedMask, uint32_t allowedMask,
                         const uint8_t fingerprint[kSha1DigestSize]);

}  // namespace quenvar
