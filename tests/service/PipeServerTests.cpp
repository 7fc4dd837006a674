#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "FakeServicePlatform.h"
#include "PipeTestClient.h"
#include "common/PipeProtocol.h"
#include "service/PipeSecurity.h"
#include "service/PipeServer.h"
#include "service/WellKnownSid.h"
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

TEST(PipeSecurity, AclGrantsEveryoneReadWriteAndAdministratorsAll) {
    OwnedAcl acl;
    ASSERT_TRUE(BuildPipeAcl(&acl));
    ASSERT_NE(acl.get(), nullptr);
    ASSERT_EQ(acl.get()->AceCount, 2);
    struct {
        const wchar_t* sid;
        ACCESS_MASK mask;
    } expected[] = {{L"S-1-1-0", GENERIC_READ | GENERIC_WRITE}, {L"S-1-5-32-544", GENERIC_ALL}};
    std::map<std::wstring, ACCESS_MASK> found;
    for (DWORD i = 0; i < 2; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(acl.get(), i, reinterpret_cast<void**>(&ace)));
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(ace->Header.AceFlags, 0);
        found[SidText(&ace->SidStart)] = ace->Mask;
    }
    for (const auto& e : expected) EXPECT_EQ(found[e.sid], e.mask) << e.sid;
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
    std::thread([name] { RunPipeServer(name.c_str(), service); }).detach();
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
    EXPECT_EQ(service.guardEnabled.load(), 0);
}
