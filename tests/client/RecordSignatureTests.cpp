#include <gtest/gtest.h>

#include "TempFile.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "client/RecordSignature.h"
#include "SeamOverride.h"

using namespace quenvar;
using quenvar::testing::SeamOverride;
using quenvar::testing::TempFile;

namespace {

// Expected values were computed on Linux with sha1sum and Python, independently
// of this code.

// SHA-1 of no data (da39a3ee...0709) masked with the built-in key
// "Tz5#40!kvbsewlc*MRd" and its zero byte: the last byte is the digest's own.
const Sha1Digest kEmptyUnderBuiltInKey = {0x8e, 0x43, 0x96, 0xcd, 0x6a, 0x5b, 0x6a, 0x66, 0x44, 0x37,
                                          0xcc, 0x8a, 0xe2, 0x0c, 0x7b, 0xba, 0xe2, 0x8a, 0x63, 0x09};

// The 64000-byte pattern file (byte i = (i*31 + (i>>11)) & 0xFF), SHA-1
// 8a67b7b9...57c9, masked with the built-in key.
const Sha1Digest kPatternUnderBuiltInKey = {0xde, 0x1d, 0x82, 0x9a, 0x79, 0x84, 0x80, 0x5c, 0x7c, 0x04,
                                            0x46, 0xbf, 0x5b, 0xa1, 0x40, 0x47, 0x64, 0x02, 0x33, 0xc9};

// A 164-byte identity 00 01 02 ... a3 and its SHA-1, the key derived from it.
std::vector<uint8_t> TestIdentity() {
    std::vector<uint8_t> bytes(164);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i);
    return bytes;
}
const uint8_t kTestIdentityKey[20] = {0x2f, 0x33, 0x51, 0x2a, 0x40, 0x13, 0x5a, 0x51, 0x5b, 0x68,
                                      0xbf, 0x53, 0xb0, 0x98, 0x44, 0x67, 0x8c, 0x75, 0x48, 0xa1};

constexpr const wchar_t* kMissingFile = L"C:\\no such folder\\program.exe";


std::vector<uint8_t> Pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(uint32_t(i) * 31u + (uint32_t(i) >> 11));
    return bytes;
}

int identityReads = 0;
std::vector<uint8_t> identityToReturn;
bool identityAvailable = false;

bool FakeIdentityReader(std::vector<uint8_t>* identity) {
    ++identityReads;
    if (!identityAvailable) return false;
    *identity = identityToReturn;
    return true;
}

// Every test starts a fresh "run": built-in key, no derivation tried, and the
// registry replaced by FakeIdentityReader.
class RecordSignatureTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::memcpy(MachineKey, kBuiltInMachineKey, sizeof MachineKey);
        machineKeyTried = false;
        identityReads = 0;
        identityAvailable = false;
        identityToReturn.clear();
    }
    void TearDown() override {
        std::memcpy(MachineKey, kBuiltInMachineKey, sizeof MachineKey);
        machineKeyTried = false;
    }

    static RightsRecord SampleRecord(const Sha1Digest& fingerprint) {
        return BuildRecord(0x05, 0x02, fingerprint.data());
    }
    static const uint8_t* Bytes(const RightsRecord& record) {
        return reinterpret_cast<const uint8_t*>(&record);
    }

    SeamOverride<MachineIdentityReader> identityReader{machineIdentityReader, FakeIdentityReader};
};

}  // namespace

// Taken before any test touches them: what the program starts with.
const std::vector<uint8_t> machineKeyAtStart(MachineKey, MachineKey + kMachineKeySize);
const bool machineKeyTriedAtStart = machineKeyTried;

TEST(MachineKey, RunStartsWithTheBuiltInKeyAndItsZeroByte) {
    const uint8_t expected[20] = {'T', 'z', '5', '#', '4', '0', '!', 'k', 'v', 'b',
                                  's', 'e', 'w', 'l', 'c', '*', 'M', 'R', 'd', 0};
    EXPECT_EQ(machineKeyAtStart, std::vector<uint8_t>(expected, expected + 20));
    EXPECT_EQ(std::memcmp(kBuiltInMachineKey, expected, 20), 0);
    EXPECT_FALSE(machineKeyTriedAtStart);
}

TEST_F(RecordSignatureTest, FingerprintIsTheFileDigestMaskedWithTheKey) {
    TempFile pattern(Pattern(64000));
    EXPECT_EQ(Fingerprint(pattern.path()), kPatternUnderBuiltInKey);

    TempFile empty({});
    EXPECT_EQ(Fingerprint(empty.path()), kEmptyUnderBuiltInKey);
    // A file that cannot be opened fingerprints like an empty one.
    EXPECT_EQ(Fingerprint(kMissingFile), kEmptyUnderBuiltInKey);
}

TEST_F(RecordSignatureTest, SealIsThePayloadDigestMaskedWithTheKey) {
    uint8_t payload[kRecordPayloadSize];
    for (size_t i = 0; i < sizeof payload; ++i) payload[i] = uint8_t(0xA0 + i);
    const Sha1Digest plain = Sha1Of(payload, sizeof payload);
    const Sha1Digest seal = Seal(payload);
    for (size_t i = 0; i < kSha1DigestSize; ++i) EXPECT_EQ(seal[i], plain[i] ^ kBuiltInMachineKey[i]) << i;
}

TEST_F(RecordSignatureTest, BuiltRecordCarriesLowMaskBytesFingerprintAndSeal) {
    const RightsRecord record = BuildRecord(0x105, 0xFFFFFF02, kPatternUnderBuiltInKey.data());
    const uint8_t* bytes = Bytes(record);
    EXPECT_EQ(bytes[0], 0x05);
    EXPECT_EQ(bytes[1], 0x02);
    EXPECT_EQ(std::memcmp(bytes + 2, kPatternUnderBuiltInKey.data(), 20), 0);
    const Sha1Digest seal = Seal(bytes);
    EXPECT_EQ(std::memcmp(bytes + 22, seal.data(), 20), 0);
}

TEST_F(RecordSignatureTest, RecordVerifiesOnlyWithItsOwnFingerprint) {
    const RightsRecord record = SampleRecord(kPatternUnderBuiltInKey);
    EXPECT_TRUE(Verify(Bytes(record), kRightsRecordSize, kPatternUnderBuiltInKey.data()));
    // The program file changed: another fingerprint, even one that differs
    // from the stored one in a single byte, the last one included.
    EXPECT_FALSE(Verify(Bytes(record), kRightsRecordSize, kEmptyUnderBuiltInKey.data()));
    for (size_t byte = 0; byte < kSha1DigestSize; ++byte) {
        Sha1Digest other = kPatternUnderBuiltInKey;
        other[byte] ^= 0x80;
        EXPECT_FALSE(Verify(Bytes(record), kRightsRecordSize, other.data())) << "byte " << byte;
    }
    EXPECT_FALSE(Verify(nullptr, kRightsRecordSize, kPatternUnderBuiltInKey.data()));
}

TEST_F(RecordSignatureTest, EveryChangedByteMakesTheRecordFail) {
    const RightsRecord record = SampleRecord(kPatternUnderBuiltInKey);
    for (size_t byte = 0; byte < kRightsRecordSize; ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            uint8_t changed[kRightsRecordSize];
            std::memcpy(changed, Bytes(record), sizeof changed);
            changed[byte] ^= uint8_t(1u << bit);
            EXPECT_FALSE(Verify(changed, sizeof changed, kPatternUnderBuiltInKey.data()))
                << "byte " << byte << " bit " << bit;
        }
    }
    // A fingerprint edited to match a new file still fails through the seal.
    RightsRecord moved = record;
    std::memcpy(moved.fingerprint, kEmptyUnderBuiltInKey.data(), 20);
    EXPECT_FALSE(Verify(Bytes(moved), kRightsRecordSize, kEmptyUnderBuiltInKey.data()));
}

TEST_F(RecordSignatureTest, OnlyExactlyFortyTwoBytesCanVerify) {
    const RightsRecord record = SampleRecord(kPatternUnderBuiltInKey);
    uint8_t longer[kRightsRecordSize + 1];
    std::memcpy(longer, Bytes(record), kRightsRecordSize);
    longer[kRightsRecordSize] = 0;
    EXPECT_TRUE(Verify(longer, 42, kPatternUnderBuiltInKey.data()));
    EXPECT_FALSE(Verify(longer, 43, kPatternUnderBuiltInKey.data()));
    EXPECT_FALSE(Verify(longer, 41, kPatternUnderBuiltInKey.data()));
    EXPECT_FALSE(Verify(longer, 0, kPatternUnderBuiltInKey.data()));
}

TEST_F(RecordSignatureTest, MissingIdentityKeepsTheBuiltInKeyAndIsNotRetried) {
    DeriveMachineKey();
    EXPECT_TRUE(machineKeyTried);
    EXPECT_EQ(identityReads, 1);
    EXPECT_EQ(std::memcmp(MachineKey, kBuiltInMachineKey, 20), 0);
    // The zero byte takes part in masking: the fingerprint of no data ends in
    // the digest's own last byte.
    EXPECT_EQ(Fingerprint(kMissingFile), kEmptyUnderBuiltInKey);

    // The identity turning up later in the run changes nothing.
    identityAvailable = true;
    identityToReturn = TestIdentity();
    DeriveMachineKey();
    DeriveMachineKey();
    EXPECT_EQ(identityReads, 1);
    EXPECT_EQ(std::memcmp(MachineKey, kBuiltInMachineKey, 20), 0);
}

TEST_F(RecordSignatureTest, DerivedKeyIsTheIdentityDigestAndIsTakenOnce) {
    identityAvailable = true;
    identityToReturn = TestIdentity();
    DeriveMachineKey();
    EXPECT_EQ(identityReads, 1);
    EXPECT_EQ(std::memcmp(MachineKey, kTestIdentityKey, 20), 0);

    identityToReturn.assign(8, 0x55);
    DeriveMachineKey();
    EXPECT_EQ(identityReads, 1);
    EXPECT_EQ(std::memcmp(MachineKey, kTestIdentityKey, 20), 0);

    // Fingerprints are masked with the derived key.
    const Sha1Digest empty = Fingerprint(kMissingFile);
    const Sha1Digest plainEmpty = Sha1Of(nullptr, 0);
    for (size_t i = 0; i < 20; ++i) EXPECT_EQ(empty[i], plainEmpty[i] ^ kTestIdentityKey[i]) << i;
}

TEST_F(RecordSignatureTest, RecordsOfOneKeyFailUnderTheOther) {
    TempFile program(Pattern(64000));
    const Sha1Digest builtInFingerprint = Fingerprint(program.path());
    const RightsRecord builtInRecord = SampleRecord(builtInFingerprint);
    ASSERT_TRUE(Verify(Bytes(builtInRecord), kRightsRecordSize, builtInFingerprint.data()));

    identityAvailable = true;
    identityToReturn = TestIdentity();
    DeriveMachineKey();
    const Sha1Digest derivedFingerprint = Fingerprint(program.path());
    EXPECT_NE(derivedFingerprint, builtInFingerprint);
    // Neither the current fingerprint nor the stored one lets it pass.
    EXPECT_FALSE(Verify(Bytes(builtInRecord), kRightsRecordSize, derivedFingerprint.data()));
    EXPECT_FALSE(Verify(Bytes(builtInRecord), kRightsRecordSize, builtInFingerprint.data()));

    const RightsRecord derivedRecord = SampleRecord(derivedFingerprint);
    EXPECT_TRUE(Verify(Bytes(derivedRecord), kRightsRecordSize, derivedFingerprint.data()));
    EXPECT_NE(std::memcmp(derivedRecord.seal, builtInRecord.seal, 20), 0);

    // Back under the built-in key, the derived record fails in turn.
    std::memcpy(MachineKey, kBuiltInMachineKey, sizeof MachineKey);
    EXPECT_FALSE(Verify(Bytes(derivedRecord), kRightsRecordSize, builtInFingerprint.data()));
}

namespace {

constexpr const wchar_t* kIdentityKeyPath = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\";
constexpr const wchar_t* kIdentityValue = L"DigitalProductId";

// Keeps the machine's own identity value and puts it back afterwards.
class IdentityValueBackup {
public:
    IdentityValueBackup() {
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kIdentityKeyPath, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) !=
            ERROR_SUCCESS) {
            key = nullptr;
            return;
        }
        DWORD size = 0;
        if (RegQueryValueExW(key, kIdentityValue, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
            saved.resize(size);
            had = RegQueryValueExW(key, kIdentityValue, nullptr, &type, saved.data(), &size) == ERROR_SUCCESS;
            saved.resize(size);
        }
    }
    ~IdentityValueBackup() {
        if (key == nullptr) return;
        if (had) {
            RegSetValueExW(key, kIdentityValue, 0, type, saved.data(), DWORD(saved.size()));
        } else {
            RegDeleteValueW(key, kIdentityValue);
        }
        RegCloseKey(key);
    }

    HKEY key = nullptr;
    DWORD type = REG_BINARY;
    std::vector<uint8_t> saved;
    bool had = false;
};

}  // namespace

TEST(MachineIdentity, IsReadFromTheWindowsProductValue) {
    IdentityValueBackup backup;
    ASSERT_NE(backup.key, nullptr) << "the Windows version key cannot be opened for the test";
    const std::vector<uint8_t> identity = TestIdentity();
    ASSERT_EQ(RegSetValueExW(backup.key, kIdentityValue, 0, REG_BINARY, identity.data(), DWORD(identity.size())),
              ERROR_SUCCESS);
    std::vector<uint8_t> read;
    ASSERT_TRUE(ReadMachineIdentity(&read));
    EXPECT_EQ(read, identity);

    // The value's type is not checked.
    const uint8_t text[] = {'x', 0, 'y', 0, 0, 0};
    ASSERT_EQ(RegSetValueExW(backup.key, kIdentityValue, 0, REG_SZ, text, sizeof text), ERROR_SUCCESS);
    ASSERT_TRUE(ReadMachineIdentity(&read));
    EXPECT_EQ(read, std::vector<uint8_t>(text, text + sizeof text));

    ASSERT_EQ(RegDeleteValueW(backup.key, kIdentityValue), ERROR_SUCCESS);
    read.assign(3, 7);
    EXPECT_FALSE(ReadMachineIdentity(&read));
}

TEST(MachineIdentity, DerivationUsesTheRegistryByDefault) {
    IdentityValueBackup backup;
    ASSERT_NE(backup.key, nullptr);
    const std::vector<uint8_t> identity = TestIdentity();
    ASSERT_EQ(RegSetValueExW(backup.key, kIdentityValue, 0, REG_BINARY, identity.data(), DWORD(identity.size())),
              ERROR_SUCCESS);
    ASSERT_EQ(machineIdentityReader, &ReadMachineIdentity);
    std::memcpy(MachineKey, kBuiltInMachineKey, sizeof MachineKey);
    machineKeyTried = false;
    DeriveMachineKey();
    EXPECT_EQ(std::memcmp(MachineKey, kTestIdentityKey, 20), 0);
    std::memcpy(MachineKey, kBuiltInMachineKey, sizeof MachineKey);
    machineKeyTried = false;
}
