#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include "client/ProcessRightsCache.h"
#include "client/RecordSignature.h"
#include "client/RightsStore.h"
#include "common/Sha1.h"
#include "ClientTestSupport.h"
#include "SeamOverride.h"

using namespace quenvar;
using namespace quenvar::testing;

namespace {

constexpr const wchar_t* kRightsKey = L"Software\\Quenvar\\Lockmere\\Rights";

// Reads counted through the store's own seams.
int registryReads = 0;
int fileReads = 0;

LONG CountingStoredRightsReader(HKEY key, const wchar_t* path, uint8_t* buffer, DWORD* size) {
    ++registryReads;
    return ReadStoredRights(key, path, buffer, size);
}

size_t CountingFileReader(void* buffer, size_t count, FILE* file) {
    ++fileReads;
    return ReadFileChunk(buffer, count, file);
}

// Wine keeps no protected-file list; the tests choose the protected file.
std::wstring protectedPath;
std::vector<std::wstring> protectionAsked;

bool ChosenProtection(const wchar_t* path) {
    protectionAsked.push_back(path);
    return !protectedPath.empty() && protectedPath == path;
}

struct SavedNotice {
    std::wstring path;
    uint32_t allowedMask;
    uint32_t deniedMask;
};
std::vector<SavedNotice> notices;

void RecordNotice(const std::wstring& path, uint32_t allowedMask, uint32_t deniedMask) {
    notices.push_back({path, allowedMask, deniedMask});
}

// This machine's identity in the tests: the run's key is its digest.
int identityReads = 0;
bool TestIdentity(std::vector<uint8_t>* identity) {
    ++identityReads;
    identity->assign(64, 0x3C);
    return true;
}

std::vector<uint8_t> Contents(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(i * 7 + seed);
    return bytes;
}

// A program file in the temp directory, removed at the end of the test.
class ProgramFile {
public:
    ProgramFile(const wchar_t* name, const std::vector<uint8_t>& contents) {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        path = std::wstring(temp) + name;
        Write(contents);
    }
    ~ProgramFile() { DeleteFileW(path.c_str()); }

    void Write(const std::vector<uint8_t>& contents) const {
        FILE* file = _wfopen(path.c_str(), L"wb");
        if (file == nullptr) return;
        std::fwrite(contents.data(), 1, contents.size(), file);
        std::fclose(file);
    }

    std::wstring path;
};

std::wstring Upper(std::wstring text) {
    for (wchar_t& c : text) c = wchar_t(std::towupper(c));
    return text;
}

void StoreValue(const std::wstring& path, const void* bytes, size_t size, DWORD type = REG_BINARY) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kRightsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, path.c_str(), 0, type, static_cast<const BYTE*>(bytes), DWORD(size)),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

DWORD ValueCount() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRightsKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return 0;
    DWORD values = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
    return values;
}

bool RightsKeyExists() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRightsKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// Every test starts a fresh run: built-in key not yet replaced, no rights
// key in the registry, nothing protected, reads counted.
class RightsStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::memcpy(MachineKey, kBuiltInMachineKey, sizeof MachineKey);
        machineKeyTried = false;
        registryReads = 0;
        fileReads = 0;
        identityReads = 0;
        protectedPath.clear();
        protectionAsked.clear();
        notices.clear();
        RegDeleteKeyW(HKEY_CURRENT_USER, kRightsKey);
    }
    void TearDown() override {
        std::memcpy(MachineKey, kBuiltInMachineKey, sizeof MachineKey);
        machineKeyTried = false;
        RegDeleteKeyW(HKEY_CURRENT_USER, kRightsKey);
    }

    // A stored decision for the program, as an earlier run would have left it.
    static void StoreDecision(const std::wstring& path, uint32_t allowedMask, uint32_t deniedMask) {
        RightsStore earlier;
        ProcessRightsCache& cache = *earlier.ForProcess(GetCurrentProcessId());
        ProgramRights& rights = cache.RightsFor(path);
        rights.allowedMask = allowedMask;
        rights.deniedMask = deniedMask;
        cache.Save(rights, path);
    }

    static Sha1Digest FingerprintOf(const std::wstring& path) {
        DeriveMachineKey();
        return Fingerprint(path.c_str());
    }

    SeamOverride<FileProtectionCheck> protection{fileProtectionCheck, ChosenProtection};
    SeamOverride<StoredRightsReader> storedReader{storedRightsReader, CountingStoredRightsReader};
    SeamOverride<Sha1FileReader> fileReader{sha1FileReader, CountingFileReader};
    SeamOverride<MachineIdentityReader> identityReader{machineIdentityReader, TestIdentity};
    SeamOverride<ProgramRightsSaved> notice{programRightsSaved, RecordNotice};
};

}  // namespace

TEST_F(RightsStoreTest, FirstCacheDerivesTheMachineKeyOnce) {
    ProgramFile program(L"quenvar keyed.exe", Contents(300, 16));
    RightsStore store;
    EXPECT_FALSE(machineKeyTried);
    ProcessRightsCache& cache = *store.ForProcess(GetCurrentProcessId());
    EXPECT_TRUE(machineKeyTried);
    EXPECT_EQ(identityReads, 1);
    ChildProcess child;
    ASSERT_TRUE(child.started);
    store.ForProcess(child.id());
    EXPECT_EQ(identityReads, 1);

    // The first fingerprint is already taken with the derived key.
    const ProgramRights& rights = cache.RightsFor(program.path);
    std::vector<uint8_t> identity;
    TestIdentity(&identity);
    Sha1Digest plain = Sha1Of(nullptr, 0);
    {
        FILE* file = _wfopen(program.path.c_str(), L"rb");
        ASSERT_NE(file, nullptr);
        std::vector<uint8_t> bytes(300);
        ASSERT_EQ(std::fread(bytes.data(), 1, bytes.size(), file), bytes.size());
        std::fclose(file);
        plain = Sha1Of(bytes.data(), bytes.size());
    }
    const Sha1Digest key = Sha1Of(identity.data(), identity.size());
    EXPECT_EQ(std::memcmp(MachineKey, key.data(), kMachineKeySize), 0);
    for (size_t i = 0; i < kSha1DigestSize; ++i) {
        EXPECT_EQ(rights.registryImage.fingerprint[i], uint8_t(plain[i] ^ key[i])) << i;
    }
}

TEST_F(RightsStoreTest, SecondEventOfAProcessIsServedFromItsCache) {
    ProgramFile program(L"quenvar cached.exe", Contents(40000, 1));
    RightsStore store;

    // First event: the program is loaded, the user allows screen access.
    ProcessRightsCache& first = *store.ForProcess(GetCurrentProcessId());
    ProgramRights& loaded = first.RightsFor(program.path);
    EXPECT_EQ(registryReads, 1);
    EXPECT_EQ(fileReads, 2);  // one 32000-byte chunk and the remainder
    EXPECT_EQ(loaded.allowedMask, 0u);
    EXPECT_EQ(loaded.deniedMask, 0u);
    loaded.allowedMask |= 1u;
    first.Save(loaded, program.path);

    // Second event of the same process for the same program.
    ProcessRightsCache& second = *store.ForProcess(GetCurrentProcessId());
    EXPECT_EQ(&second, &first);
    ProgramRights& again = second.RightsFor(program.path);
    EXPECT_EQ(&again, &loaded);
    EXPECT_EQ(again.allowedMask, 1u);
    EXPECT_EQ(registryReads, 1);
    EXPECT_EQ(fileReads, 2);
    EXPECT_EQ(store.processCaches.size(), 1u);

    // Another program of the same process is loaded in its turn.
    ProgramFile module(L"quenvar cached module.dll", Contents(100, 2));
    second.RightsFor(module.path);
    EXPECT_EQ(registryReads, 2);
    EXPECT_EQ(fileReads, 3);
    EXPECT_EQ(second.rights.size(), 2u);
}

TEST_F(RightsStoreTest, EndedProcessIdGetsAFreshCache) {
    ProgramFile program(L"quenvar reused.exe", Contents(500, 3));
    RightsStore store;
    ChildProcess child;
    ASSERT_TRUE(child.started);

    ProcessRightsCache& running = *store.ForProcess(child.id());
    EXPECT_EQ(running.processId, child.id());
    EXPECT_TRUE(running.processHandle.valid());
    running.RightsFor(program.path);
    EXPECT_EQ(store.ForProcess(child.id()), &running);
    EXPECT_EQ(registryReads, 1);

    // A decision stored meanwhile by another process's prompt.
    StoreDecision(program.path, 0, 4);
    const int readsBefore = registryReads;
    const int fileReadsBefore = fileReads;

    child.End();
    // The id comes again, now for whatever process holds it: nothing of the
    // old cache is used, and the program is loaded and verified afresh.
    ProcessRightsCache& fresh = *store.ForProcess(child.id());
    EXPECT_TRUE(fresh.rights.empty());
    EXPECT_EQ(store.processCaches.size(), 1u);
    const ProgramRights& reloaded = fresh.RightsFor(program.path);
    EXPECT_EQ(registryReads, readsBefore + 1);
    EXPECT_GT(fileReads, fileReadsBefore);
    EXPECT_EQ(reloaded.deniedMask, 4u);
}

TEST_F(RightsStoreTest, ProcessThatCannotBeOpenedIsLoadedForEveryEvent) {
    ProgramFile program(L"quenvar unopened.exe", Contents(500, 4));
    RightsStore store;
    const uint32_t noSuchProcess = 0xFFFFFFF0;
    ProcessRightsCache& first = *store.ForProcess(noSuchProcess);
    EXPECT_FALSE(first.processHandle.valid());
    first.RightsFor(program.path);
    EXPECT_EQ(registryReads, 1);

    ProcessRightsCache& second = *store.ForProcess(noSuchProcess);
    EXPECT_TRUE(second.rights.empty());
    second.RightsFor(program.path);
    EXPECT_EQ(registryReads, 2);
    EXPECT_EQ(store.processCaches.size(), 1u);
}

// A thousand real processes would take minutes under Wine. The store sees
// nothing of a process but its id and its handle, so two are real and the rest
// are ids of no process whose caches hold a copy of a real process's handle,
// ended or running. A thousand is four times the bound: a store that let go
// only at the bound would still hold 256 handles at the end.
TEST_F(RightsStoreTest, EndedProcessesLetGoAndTheTableKeepsTheMostRecentlyUsed) {
    ProgramFile program(L"quenvar short-lived.exe", Contents(300, 17));
    StoreDecision(program.path, 1, 0);
    ChildProcess live, ended;
    ASSERT_TRUE(live.started && ended.started);
    RightsStore store;
    ProcessRightsCache* liveCache = store.ForProcess(live.id());
    EXPECT_EQ(liveCache->RightsFor(program.path).allowedMask, 1u);
    store.ForProcess(ended.id())->RightsFor(program.path);
    ended.End();
    // Gone at the lookup of another process.
    store.ForProcess(GetCurrentProcessId());
    EXPECT_EQ(store.processCaches.count(ended.id()), 0u);
    ASSERT_EQ(store.processCaches.size(), 2u);

    const auto lookUp = [&](uint32_t processId, const ChildProcess& as) {
        ProcessRightsCache* cache = store.ForProcess(0xFFF00000 + 4 * processId);
        EXPECT_TRUE(DuplicateHandle(GetCurrentProcess(), as.info.hProcess, GetCurrentProcess(),
                                    cache->processHandle.receive(), SYNCHRONIZE, FALSE, 0));
        return cache;
    };
    const DWORD handlesBefore = LiveHandles();
    for (uint32_t id = 0; id < 1000; ++id) ASSERT_EQ(lookUp(id, ended)->RightsFor(program.path).allowedMask, 1u);
    store.ForProcess(GetCurrentProcessId());
    EXPECT_LE(LiveHandles(), handlesBefore + 2);
    EXPECT_EQ(store.processCaches.size(), 2u);
    EXPECT_EQ(store.ForProcess(live.id()), liveCache);
    EXPECT_EQ(liveCache->rights.count(program.path), 1u);

    // Running processes fill the table to 256; the least recently looked up
    // one makes room for each new one.
    ProcessRightsCache* first = lookUp(0, live);
    for (uint32_t id = 1; id < 254; ++id) lookUp(id, live);
    EXPECT_EQ(store.processCaches.size(), 256u);
    EXPECT_EQ(store.ForProcess(0xFFF00000), first);
    EXPECT_EQ(store.ForProcess(live.id()), liveCache);
    lookUp(254, live);
    lookUp(255, live);
    EXPECT_EQ(store.processCaches.size(), 256u);
    EXPECT_EQ(store.processCaches.count(GetCurrentProcessId()), 0u);
    EXPECT_EQ(store.processCaches.count(0xFFF00000 + 4), 0u);
    EXPECT_EQ(store.ForProcess(0xFFF00000), first);
    EXPECT_EQ(store.ForProcess(live.id()), liveCache);
}

TEST_F(RightsStoreTest, SaveStoresASealedRecordAndTellsTheFullMasks) {
    ProgramFile program(L"quenvar saved.exe", Contents(700, 5));
    RightsStore store;
    ProcessRightsCache& cache = *store.ForProcess(GetCurrentProcessId());
    ProgramRights& rights = cache.RightsFor(program.path);
    const Sha1Digest fingerprint = FingerprintOf(program.path);
    EXPECT_EQ(std::memcmp(rights.registryImage.fingerprint, fingerprint.data(), 20), 0);

    rights.allowedMask = 0x00000102;
    rights.deniedMask = 0xFFFF0001;
    // The file changes before the answer is stored: the record keeps the
    // fingerprint taken at load time, without hashing the file again.
    program.Write(Contents(701, 5));
    const int fileReadsBefore = fileReads;
    cache.Save(rights, program.path);
    EXPECT_EQ(fileReads, fileReadsBefore);

    std::vector<uint8_t> stored;
    ASSERT_TRUE(StoredRecord(program.path, &stored));
    ASSERT_EQ(stored.size(), kRightsRecordSize);
    EXPECT_EQ(stored[0], 0x01);
    EXPECT_EQ(stored[1], 0x02);
    EXPECT_TRUE(Verify(stored.data(), stored.size(), fingerprint.data()));
    EXPECT_EQ(std::memcmp(&rights.registryImage, stored.data(), kRightsRecordSize), 0);

    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].path, program.path);
    EXPECT_EQ(notices[0].allowedMask, 0x00000102u);
    EXPECT_EQ(notices[0].deniedMask, 0xFFFF0001u);
}

TEST_F(RightsStoreTest, SaveWithoutAListToTellStillStores) {
    ProgramFile program(L"quenvar no window.exe", Contents(300, 6));
    programRightsSaved = nullptr;
    RightsStore store;
    ProcessRightsCache& cache = *store.ForProcess(GetCurrentProcessId());
    ProgramRights& rights = cache.RightsFor(program.path);
    rights.deniedMask = 2;
    cache.Save(rights, program.path);
    std::vector<uint8_t> stored;
    ASSERT_TRUE(StoredRecord(program.path, &stored));
    EXPECT_TRUE(Verify(stored.data(), stored.size(), FingerprintOf(program.path).data()));
    EXPECT_EQ(stored[0], 2);
    EXPECT_TRUE(notices.empty());
}

TEST_F(RightsStoreTest, ReloadedMasksKeepOnlyTheLowEightBits) {
    ProgramFile program(L"quenvar wide masks.exe", Contents(300, 7));
    StoreDecision(program.path, 0xABCD0102, 0x80000001);
    RightsStore later;
    const ProgramRights& reloaded = later.ForProcess(GetCurrentProcessId())->RightsFor(program.path);
    EXPECT_EQ(reloaded.allowedMask, 0x02u);
    EXPECT_EQ(reloaded.deniedMask, 0x01u);
}

TEST_F(RightsStoreTest, ChangedProgramFileIsAskedAboutAgainAndTheAnswerReplacesTheRecord) {
    ProgramFile program(L"quenvar changed.exe", Contents(300, 8));
    StoreDecision(program.path, 1, 0);
    program.Write(Contents(300, 9));

    RightsStore store;
    ProcessRightsCache& cache = *store.ForProcess(GetCurrentProcessId());
    ProgramRights& rights = cache.RightsFor(program.path);
    EXPECT_EQ(rights.allowedMask, 0u);
    EXPECT_EQ(rights.deniedMask, 0u);
    const Sha1Digest current = FingerprintOf(program.path);
    EXPECT_EQ(std::memcmp(rights.registryImage.fingerprint, current.data(), 20), 0);

    rights.deniedMask = 1;
    cache.Save(rights, program.path);
    std::vector<uint8_t> stored;
    ASSERT_TRUE(StoredRecord(program.path, &stored));
    EXPECT_TRUE(Verify(stored.data(), stored.size(), current.data()));
    EXPECT_EQ(ValueCount(), 1u);

    RightsStore later;
    const ProgramRights& reloaded = later.ForProcess(GetCurrentProcessId())->RightsFor(program.path);
    EXPECT_EQ(reloaded.allowedMask, 0u);
    EXPECT_EQ(reloaded.deniedMask, 1u);
}

TEST_F(RightsStoreTest, RecordsThatDoNotVerifyCountAsNeverSeen) {
    ProgramFile program(L"quenvar tampered.exe", Contents(300, 10));
    ProgramFile other(L"quenvar other.exe", Contents(300, 11));
    const Sha1Digest fingerprint = FingerprintOf(program.path);
    const RightsRecord good = BuildRecord(0x01, 0x06, fingerprint.data());
    const uint8_t* goodBytes = reinterpret_cast<const uint8_t*>(&good);

    auto loadedMasks = [&](const void* bytes, size_t size, DWORD type = REG_BINARY) {
        StoreValue(program.path, bytes, size, type);
        RightsStore store;
        const ProgramRights& rights = store.ForProcess(GetCurrentProcessId())->RightsFor(program.path);
        // An unsettled program always carries the current fingerprint for its next Save.
        EXPECT_EQ(std::memcmp(rights.registryImage.fingerprint, fingerprint.data(), 20), 0);
        return std::make_pair(rights.allowedMask, rights.deniedMask);
    };
    const auto unsettled = std::make_pair(0u, 0u);

    // The sound record loads, whatever the value's type. (Not REG_SZ here:
    // Wine asks for room for a terminating zero beyond the 42 bytes.)
    EXPECT_EQ(loadedMasks(goodBytes, kRightsRecordSize), std::make_pair(0x06u, 0x01u));
    EXPECT_EQ(loadedMasks(goodBytes, kRightsRecordSize, REG_NONE), std::make_pair(0x06u, 0x01u));

    // One edited byte: a mask, the fingerprint, the seal.
    for (size_t index : {size_t(0), size_t(1), size_t(2), size_t(21), size_t(22), size_t(41)}) {
        RightsRecord edited = good;
        reinterpret_cast<uint8_t*>(&edited)[index] ^= 0x10;
        EXPECT_EQ(loadedMasks(&edited, kRightsRecordSize), unsettled) << "byte " << index;
    }

    // 41 or 43 bytes, even though the first 42 would verify.
    uint8_t longer[kRightsRecordSize + 1];
    std::memcpy(longer, goodBytes, kRightsRecordSize);
    longer[kRightsRecordSize] = 0;
    EXPECT_EQ(loadedMasks(longer, kRightsRecordSize + 1), unsettled);
    EXPECT_EQ(loadedMasks(longer, kRightsRecordSize - 1), unsettled);

    // A sound record of another program file.
    const RightsRecord foreignFile = BuildRecord(0x01, 0x06, FingerprintOf(other.path).data());
    EXPECT_EQ(loadedMasks(&foreignFile, kRightsRecordSize), unsettled);

    // A record written under another machine key (here the built-in one).
    uint8_t runKey[kMachineKeySize];
    std::memcpy(runKey, MachineKey, sizeof runKey);
    std::memcpy(MachineKey, kBuiltInMachineKey, sizeof MachineKey);
    const Sha1Digest otherMachineFingerprint = Fingerprint(program.path.c_str());
    const RightsRecord otherMachine = BuildRecord(0x01, 0x06, otherMachineFingerprint.data());
    std::memcpy(MachineKey, runKey, sizeof MachineKey);
    ASSERT_NE(otherMachineFingerprint, fingerprint);
    EXPECT_EQ(loadedMasks(&otherMachine, kRightsRecordSize), unsettled);

    // No value at all; the key is made for the next Save.
    RegDeleteKeyW(HKEY_CURRENT_USER, kRightsKey);
    RightsStore store;
    const ProgramRights& missing = store.ForProcess(GetCurrentProcessId())->RightsFor(program.path);
    EXPECT_EQ(std::make_pair(missing.allowedMask, missing.deniedMask), unsettled);
    EXPECT_TRUE(RightsKeyExists());
}

TEST_F(RightsStoreTest, ForgetPurgesEveryCacheAtTheNextLookup) {
    ProgramFile forgotten(L"quenvar forgotten.exe", Contents(300, 12));
    ProgramFile kept(L"quenvar kept.exe", Contents(300, 13));
    StoreDecision(forgotten.path, 1, 0);
    ChildProcess child;
    ASSERT_TRUE(child.started);

    RightsStore store;
    ProcessRightsCache& own = *store.ForProcess(GetCurrentProcessId());
    ProcessRightsCache& childCache = *store.ForProcess(child.id());
    for (ProcessRightsCache* cache : {&own, &childCache}) {
        EXPECT_EQ(cache->RightsFor(forgotten.path).allowedMask, 1u);
        cache->RightsFor(kept.path);
    }

    // The list deletes the value, then makes the store forget.
    DeleteStoredRecord(forgotten.path);
    store.Forget(forgotten.path);
    store.Forget(forgotten.path);
    EXPECT_EQ(store.pendingForgets.size(), 1u);
    EXPECT_EQ(own.rights.count(forgotten.path), 1u);  // not before the next lookup

    // The next event of either process purges both caches.
    EXPECT_EQ(store.ForProcess(GetCurrentProcessId()), &own);
    EXPECT_TRUE(store.pendingForgets.empty());
    for (ProcessRightsCache* cache : {&own, &childCache}) {
        EXPECT_EQ(cache->rights.count(forgotten.path), 0u);
        EXPECT_EQ(cache->rights.count(kept.path), 1u);
    }
    const int readsBefore = registryReads;
    EXPECT_EQ(childCache.RightsFor(forgotten.path).allowedMask, 0u);
    EXPECT_EQ(registryReads, readsBefore + 1);
}

TEST_F(RightsStoreTest, PathSpellingsDifferingInCaseAreTwoEntriesButOneValue) {
    ProgramFile program(L"Quenvar Spelled.exe", Contents(300, 14));
    const std::wstring upper = Upper(program.path);
    ASSERT_NE(upper, program.path);

    RightsStore store;
    ProcessRightsCache& cache = *store.ForProcess(GetCurrentProcessId());
    ProgramRights& asGiven = cache.RightsFor(program.path);
    ProgramRights& asUpper = cache.RightsFor(upper);
    EXPECT_NE(&asGiven, &asUpper);
    EXPECT_EQ(cache.rights.size(), 2u);
    EXPECT_EQ(registryReads, 2);

    asGiven.allowedMask = 4;
    cache.Save(asGiven, program.path);
    EXPECT_EQ(asUpper.allowedMask, 0u);  // the other entry keeps its copy
    asUpper.deniedMask = 1;
    cache.Save(asUpper, upper);
    EXPECT_EQ(ValueCount(), 1u);

    // Either spelling finds the one value, last written through the upper one.
    RightsStore later;
    ProcessRightsCache& laterCache = *later.ForProcess(GetCurrentProcessId());
    EXPECT_EQ(laterCache.RightsFor(program.path).deniedMask, 1u);
    EXPECT_EQ(laterCache.RightsFor(program.path).allowedMask, 0u);
    EXPECT_EQ(laterCache.RightsFor(upper).deniedMask, 1u);
}

TEST_F(RightsStoreTest, ProtectedFileIsAllowedEverythingWithoutReadingOrWriting) {
    ProgramFile program(L"quenvar protected.exe", Contents(300, 15));
    // A denying record left in the registry is not even looked at.
    const RightsRecord denying = BuildRecord(0x07, 0x00, FingerprintOf(program.path).data());
    StoreValue(program.path, &denying, sizeof denying);
    protectedPath = program.path;
    fileReads = 0;

    RightsStore store;
    ProcessRightsCache& cache = *store.ForProcess(GetCurrentProcessId());
    const ProgramRights& rights = cache.RightsFor(program.path);
    EXPECT_EQ(rights.allowedMask, 0xFFFFFFFFu);
    EXPECT_EQ(rights.deniedMask, 0u);
    EXPECT_EQ(registryReads, 0);
    EXPECT_EQ(fileReads, 0);
    EXPECT_EQ(protectionAsked, std::vector<std::wstring>{program.path});

    std::vector<uint8_t> stored;
    ASSERT_TRUE(StoredRecord(program.path, &stored));
    EXPECT_EQ(std::memcmp(stored.data(), &denying, sizeof denying), 0);
    EXPECT_EQ(ValueCount(), 1u);
    EXPECT_TRUE(notices.empty());
}

TEST_F(RightsStoreTest, AStoreThatCannotTakeItsLockHandsOutNoCacheAndQueuesNoForget) {
    RightsStore store;
    store.rightsLock.reset();  // every wait on it now fails
    EXPECT_EQ(store.ForProcess(GetCurrentProcessId()), nullptr);
    store.Forget(L"C:\\forgotten.exe");
    EXPECT_TRUE(store.processCaches.empty());
    EXPECT_TRUE(store.pendingForgets.empty());
    EXPECT_FALSE(machineKeyTried);
}

TEST(RightsStoreDefaults, ProductionSeamsAndTheOneStore) {
    // sfc.dll's check by default; Wine has no protected-file list, so even a
    // system file of Wine counts as unprotected here.
    EXPECT_EQ(fileProtectionCheck, &IsFileProtectedBySystem);
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    EXPECT_FALSE(IsFileProtectedBySystem((std::wstring(system) + L"\\kernel32.dll").c_str()));
    EXPECT_EQ(storedRightsReader, &ReadStoredRights);
    // Nothing is told until the program start connects the access list.
    EXPECT_EQ(programRightsSaved, nullptr);

    EXPECT_EQ(&TheRightsStore(), &TheRightsStore());
    EXPECT_TRUE(TheRightsStore().rightsLock.valid());
}
