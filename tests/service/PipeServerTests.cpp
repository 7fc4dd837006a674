#include <gtest/gtest.h>

#include <aclapi.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>
#include <thread>

#include "FakeServicePlatform.h"
#include "SeamOverride.h"
#include "PipeTestClient.h"
#include "common/PipeProtocol.h"
#include "service/PipeChannel.h"
#include "service/PipeSecurity.h"
#include "service/PipeServer.h"
#include "service/WellKnownSid.h"
#include "ServiceTestSupport.h"
#include "support/WineSystem.h"

using namespace quenvar;
using namespace quenvar::test;

namespace {

std::wstring SidText(PSID sid) {
    // S-1-<authority>-<sub>...
    std::wstring text = L"S-1-" + std::to_wstring(GetSidIdentifierAuthority(sid)->Value[5]);
    for (UCHAR i = 0; i < *GetSidSubAuthorityCount(sid); ++i)
        text += L"-" + std::to_wstring(*GetSidSubAuthority(sid, i));
    return text;
}

}  // namespace

TEST(WellKnownSid, TableGivesTheListedSids) {
    const wchar_t* expected[] = {L"S-1-0-0",      L"S-1-1-0",      L"S-1-3-0",      L"S-1-3-1",     L"S-1-5-4",
                                 L"S-1-5-32-545", L"S-1-5-32-544", L"S-1-5-32-546", L"S-1-5-32-547"};
    for (int i = 0; i < 9; ++i) {
        WellKnownSid sid(i);
        ASSERT_NE(sid.get(), nullptr) << i;
        EXPECT_EQ(SidText(sid.get()), expected[i]);
    }
}

TEST(WellKnownSid, IndexOutsideTheTableYieldsNoSid) {
    EXPECT_EQ(WellKnownSid(9).get(), nullptr);
    EXPECT_EQ(WellKnownSid(100).get(), nullptr);
    EXPECT_EQ(WellKnownSid(-1).get(), nullptr);
}

namespace {

// The DACL's entries in order: (type, SID, rights).
struct AceSeen {
    BYTE type;
    std::wstring sid;
    ACCESS_MASK mask;
    bool operator==(const AceSeen& o) const { return type == o.type && sid == o.sid && mask == o.mask; }
};

std::vector<AceSeen> EntriesOf(PACL acl) {
    std::vector<AceSeen> seen;
    for (DWORD i = 0; acl != nullptr && i < acl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;  // the denied ACE has the same layout
        if (!GetAce(acl, i, reinterpret_cast<void**>(&ace))) break;
        EXPECT_EQ(ace->Header.AceFlags, 0);
        seen.push_back({ace->Header.AceType, SidText(&ace->SidStart), ace->Mask});
    }
    return seen;
}

// Network and anonymous logons denied first (they can be in Everyone too),
// Everyone reads and writes data without FILE_CREATE_PIPE_INSTANCE,
// Administrators have everything.
const std::vector<AceSeen> kExpectedEntries = {
    {ACCESS_DENIED_ACE_TYPE, L"S-1-5-2", FILE_ALL_ACCESS},
    {ACCESS_DENIED_ACE_TYPE, L"S-1-5-7", FILE_ALL_ACCESS},
    {ACCESS_ALLOWED_ACE_TYPE, L"S-1-1-0", (FILE_GENERIC_READ | FILE_GENERIC_WRITE) & ~FILE_CREATE_PIPE_INSTANCE},
    {ACCESS_ALLOWED_ACE_TYPE, L"S-1-5-32-544", FILE_ALL_ACCESS},
};

void PrintTo(const AceSeen& ace, std::ostream* out) {
    *out << int(ace.type) << " " << std::string(ace.sid.begin(), ace.sid.end()) << " 0x" << std::hex << ace.mask;
}

}  // namespace

TEST(PipeSecurity, AclDeniesNetworkAndAnonymousLogonsAndKeepsPipeCreationFromEveryone) {
    OwnedAcl acl;
    ASSERT_TRUE(BuildPipeAcl(&acl));
    EXPECT_EQ(EntriesOf(acl.get()), kExpectedEntries);
    EXPECT_EQ(kEveryonePipeAccess & FILE_CREATE_PIPE_INSTANCE, 0u);
    EXPECT_EQ(kEveryonePipeAccess & (FILE_READ_DATA | FILE_WRITE_DATA), FILE_READ_DATA | FILE_WRITE_DATA);
}

// What the system holds for a created instance, read back from the pipe itself.
TEST(PipeSecurity, CreatedInstanceCarriesTheOwnerDaclTypeAndBuffers) {
    PipeSecurity security;
    ASSERT_TRUE(security.ready());
    const std::wstring name = UniquePipeName();
    UniqueHandle pipe(CreateServicePipeInstance(kWin32ServicePlatform, name.c_str(), security.attributes(), true));
    ASSERT_TRUE(pipe.valid());

    PACL dacl = nullptr;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetSecurityInfo(pipe.get(), SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              &owner, nullptr, &dacl, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    UniqueLocalMemory descriptorHolder(descriptor);
    ASSERT_NE(dacl, nullptr);  // a NULL DACL would let anyone do anything
    EXPECT_EQ(EntriesOf(dacl), kExpectedEntries);
    ASSERT_NE(owner, nullptr);
    EXPECT_EQ(SidText(owner), L"S-1-5-18");

    DWORD flags = 0, outBuffer = 0, inBuffer = 0, maxInstances = 0;
    ASSERT_TRUE(GetNamedPipeInfo(pipe.get(), &flags, &outBuffer, &inBuffer, &maxInstances));
    EXPECT_EQ(flags, static_cast<DWORD>(PIPE_SERVER_END | PIPE_TYPE_MESSAGE));
    EXPECT_EQ(outBuffer, 1024u);
    EXPECT_EQ(inBuffer, 1024u);
    // Byte read mode and blocking: both flags are zero, so any other mode shows.
    DWORD state = 0xFFFFFFFF;
    ASSERT_TRUE(GetNamedPipeHandleStateW(pipe.get(), &state, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(state, static_cast<DWORD>(PIPE_READMODE_BYTE | PIPE_WAIT));
    // Windows reports PIPE_UNLIMITED_INSTANCES; Wine reports it as all bits set.
    EXPECT_TRUE(maxInstances == PIPE_UNLIMITED_INSTANCES || maxInstances == 0xFFFFFFFFu) << maxInstances;
}

TEST(PipeSecurity, DescriptorIsAbsoluteRevisionOne) {
    OwnedSecurityDescriptor descriptor;
    ASSERT_NE(descriptor.get(), nullptr);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor.get(), &control, &revision));
    EXPECT_EQ(revision, 1u);
    EXPECT_EQ(control & SE_SELF_RELATIVE, 0);
}

TEST(PipeServer, ServesEveryConnectionWithItsOwnWorker) {
    FakeDriver::Get().Reset();
    // The server runs for the rest of the test program, as it does in the service.
    static ServiceContext service(kFakeServicePlatform);
    service.driverStatus = ExpectedDriverStatus;
    const std::wstring name = UniquePipeName();
    std::thread([name] { RunPipeServer(name.c_str(), service); }).detach();  // never returns
    ASSERT_TRUE(standin::WaitForPipe(name.c_str(), 5000));

    PipeClient a(name.c_str());
    ASSERT_TRUE(a.connected());
    ASSERT_TRUE(standin::WaitForPipe(name.c_str(), 5000));
    PipeClient b(name.c_str());
    ASSERT_TRUE(b.connected());
    ASSERT_TRUE(a.WriteU32(ProcessInSession(1)));
    ASSERT_TRUE(b.WriteU32(ProcessInSession(2)));
    EXPECT_EQ(a.ReadU32(), std::optional<uint32_t>(ExpectedDriverStatus));
    EXPECT_EQ(b.ReadU32(), std::optional<uint32_t>(ExpectedDriverStatus));

    // A guard command on the same server needs no answer.
    ASSERT_TRUE(standin::WaitForPipe(name.c_str(), 5000));
    PipeClient command(name.c_str());
    ASSERT_TRUE(command.WriteU32(DisableGuardCode));
    EXPECT_FALSE(command.ReadU32().has_value());
    // The worker may close the pipe before it clears the flag.
    EXPECT_TRUE(WaitUntil([] { return service.guardEnabled.load() == 0; }));
}

namespace {

// A server on its own pipe name, running for the rest of the test program.
void StartServer(ServiceContext& service, const std::wstring& name) {
    std::thread([&service, name] { RunPipeServer(name.c_str(), service); }).detach();
}

bool Served(ServiceContext& service, const std::wstring& name, uint32_t session) {
    if (!standin::WaitForPipe(name.c_str(), 5000)) return false;
    PipeClient client(name.c_str());
    return client.connected() && client.WriteU32(ProcessInSession(session)) &&
           client.ReadU32() == std::optional<uint32_t>(service.driverStatus.load());
}

}  // namespace

// Under Wine the flag is not enforced, so the taken name is stood in for by the
// creation seam: ERROR_ACCESS_DENIED is what Windows answers when another
// process owns the name.
TEST(PipeServer, ANameTakenByAnotherProcessIsNotServedAndTriedAgainEachSecond) {
    FakeDriver::Get().Reset();
    static ServiceContext service(kFakeServicePlatform);
    service.driverStatus = ExpectedDriverStatus;
    FakeDriver::Get().FailPipeCreations({ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED});
    const std::wstring name = UniquePipeName();
    StartServer(service, name);
    EXPECT_FALSE(standin::WaitForPipe(name.c_str(), 1200));  // nobody serves meanwhile
    ASSERT_TRUE(Served(service, name, 1));
    const auto creations = FakeDriver::Get().PipeCreations();
    ASSERT_GE(creations.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_NE(creations[i].openMode & FILE_FLAG_FIRST_PIPE_INSTANCE, 0u) << i;
        EXPECT_NE(creations[i].openMode & FILE_FLAG_OVERLAPPED, 0u) << i;
        if (i > 0) {
            EXPECT_GE(creations[i].tick - creations[i - 1].tick, 900u) << i;
        }
    }
    EXPECT_TRUE(creations[2].made);
    // Further instances join the service's own pipe.
    for (size_t i = 3; i < creations.size(); ++i) EXPECT_EQ(creations[i].openMode & FILE_FLAG_FIRST_PIPE_INSTANCE, 0u);
}

TEST(PipeServer, WithoutTheFirstInstanceFlagTheInstanceIsCreatedPlainAtOnce) {
    FakeDriver::Get().Reset();
    static ServiceContext service(kFakeServicePlatform);
    FakeDriver::Get().FailPipeCreations({ERROR_INVALID_PARAMETER});  // Windows XP before SP2
    const std::wstring name = UniquePipeName();
    StartServer(service, name);
    ASSERT_TRUE(Served(service, name, 1));
    const auto creations = FakeDriver::Get().PipeCreations();
    ASSERT_GE(creations.size(), 2u);
    EXPECT_FALSE(creations[0].made);
    EXPECT_TRUE(creations[1].made);
    EXPECT_EQ(creations[1].openMode & FILE_FLAG_FIRST_PIPE_INSTANCE, 0u);
    EXPECT_LT(creations[1].tick - creations[0].tick, 500u);
}

TEST(PipeServer, AFailedCreationIsRetriedAndServingGoesOn) {
    FakeDriver::Get().Reset();
    static ServiceContext service(kFakeServicePlatform);
    service.driverStatus = ExpectedDriverStatus;
    const std::wstring name = UniquePipeName();
    StartServer(service, name);
    ASSERT_TRUE(Served(service, name, 1));
    // The instance made after the next connection fails twice.
    FakeDriver::Get().FailPipeCreations({ERROR_NO_SYSTEM_RESOURCES, ERROR_NOT_ENOUGH_MEMORY});
    ASSERT_TRUE(Served(service, name, 2));
    ASSERT_TRUE(Served(service, name, 3));
    size_t failed = 0;
    for (const PipeCreation& c : FakeDriver::Get().PipeCreations()) failed += !c.made;
    EXPECT_EQ(failed, 2u);
}

namespace {

// Connects a client to the instance before the server waits on it, once, so
// that ConnectNamedPipe meets a client that is already there.
std::wstring earlyPipeName;  // set before the server starts
std::optional<PipeClient> earlyClient;
std::atomic<bool> earlyConnected{false};
bool AwaitEarlyClient(HANDLE listening) {
    if (!earlyConnected) {
        earlyClient.emplace(earlyPipeName.c_str());
        // Proves the client came first: the system answers ERROR_PIPE_CONNECTED.
        UniqueHandle probe(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        OVERLAPPED overlapped = {};
        overlapped.hEvent = probe.get();
        EXPECT_FALSE(ConnectNamedPipe(listening, &overlapped));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_CONNECTED));
        earlyConnected = true;
    }
    return PipeChannel(listening).AwaitClient();
}

}  // namespace

TEST(PipeServer, AClientConnectedBeforeTheServerWaitsIsServed) {
    FakeDriver::Get().Reset();
    static ServiceContext service(kFakeServicePlatform);
    service.driverStatus = ExpectedDriverStatus;
    const std::wstring name = UniquePipeName();
    earlyPipeName = name;
    service.limits.listeners = 1;  // so that the early client meets the instance waited on
    quenvar::testing::SeamOverride<bool (*)(HANDLE)> early{awaitPipeClient, AwaitEarlyClient};
    StartServer(service, name);
    ASSERT_TRUE(WaitUntil([] { return earlyConnected.load(); }));
    ASSERT_TRUE(earlyClient && earlyClient->connected());
    ASSERT_TRUE(earlyClient->WriteU32(ProcessInSession(4)));
    EXPECT_EQ(earlyClient->ReadU32(), std::optional<uint32_t>(ExpectedDriverStatus));
    earlyClient.reset();
    // The server goes on listening for the next client.
    EXPECT_TRUE(Served(service, name, 5));
}

// Silent connections cannot keep out a client that speaks at once: past the
// bound the oldest silent one is closed, long before its hello limit.
TEST(PipeServer, PastTheSilentBoundTheOldestSilentConnectionIsClosedAndASpeakingClientIsServed) {
    FakeDriver::Get().Reset();
    static ServiceContext service(kFakeServicePlatform);
    service.driverStatus = ExpectedDriverStatus;
    service.limits.connections.silent = 3;
    const std::wstring name = UniquePipeName();
    StartServer(service, name);
    std::vector<std::unique_ptr<PipeClient>> silent;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(standin::WaitForPipe(name.c_str(), 5000));
        silent.push_back(std::make_unique<PipeClient>(name.c_str()));
        ASSERT_TRUE(silent.back()->connected());
        ASSERT_TRUE(WaitUntil([&] { return service.connections.silent() == std::min<size_t>(i + 1, 3); }));
    }
    EXPECT_TRUE(WaitUntil([&] { return !silent[0]->StillOpen(); }, 2000));
    for (int i = 1; i < 4; ++i) EXPECT_TRUE(silent[i]->StillOpen()) << i;
    EXPECT_TRUE(Served(service, name, 1));
}
