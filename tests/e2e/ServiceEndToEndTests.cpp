// The service installed and started through the Service Control Manager under
// Wine, fed by the stand-in driver, with this test program as its client.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "E2eSupport.h"
#include "common/PipeProtocol.h"
#include "common/UniqueResource.h"
#include "support/ProcessCounts.h"
#include "support/StandInDriverClient.h"
#include "support/WineSystem.h"

using namespace quenvar;
using namespace quenvar::e2e;
using standin::MakeEvent;

namespace {

std::vector<AccessReply> RepliesIn(const std::vector<JournalEntry>& journal) {
    std::vector<AccessReply> replies;
    for (const JournalEntry& e : journal) {
        EXPECT_EQ(e.kind, JOURNAL_REPLY);
        EXPECT_EQ(e.length, sizeof(AccessReply));
        replies.push_back(standin::ReplyOf(e));
    }
    return replies;
}

bool SameBytes(const std::optional<AccessEvent>& a, const AccessEvent& b) {
    return a && std::memcmp(&*a, &b, sizeof(b)) == 0;
}

// The offending process is this test program, so that the service finds it in
// the same session as the client (Wine places a process that has gone in session 0).
AccessEvent Event(uint32_t id, uint32_t kind) {
    return MakeEvent(id, kind, GetCurrentProcessId(), L"\\Device\\HarddiskVolume1\\spy\\spy.exe",
                     L"\\Device\\HarddiskVolume1\\spy\\hook.dll", 77);
}

class ServiceRunning : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        installed = InstallDriverAndService();
        standin::StandInDriverClient driver;
        registration = driver.WaitForJournal(1, 5000);
    }
    void SetUp() override {
        ASSERT_TRUE(installed);
        ASSERT_TRUE(driver.ok());
        idleThreads = standin::ThreadCount(service);
    }
    // Each connection's worker notices a departed client within a quarter second and ends.
    void LeaveAndLetTheWorkerDetach(ServiceClient& client) {
        client.Close();
        EXPECT_TRUE(WaitFor([&] { return standin::ThreadCount(service) <= idleThreads; }, 5000));
    }
    static bool installed;
    static std::vector<JournalEntry> registration;
    standin::StandInDriverClient driver;
    const DWORD service = standin::ServiceProcessId(L"QuenvarSvc");
    DWORD idleThreads = 0;
};
bool ServiceRunning::installed = false;
std::vector<JournalEntry> ServiceRunning::registration;

}  // namespace

TEST_F(ServiceRunning, RegistersWithTheDriverAndRefusesToStopOrPause) {
    ASSERT_EQ(registration.size(), 1u);
    const JournalEntry& request = registration[0];
    EXPECT_EQ(request.kind, JOURNAL_REGISTER);
    EXPECT_EQ(request.length, 0u);
    EXPECT_EQ(request.outLength, 0u);
    EXPECT_EQ(request.requestor, service);
    EXPECT_EQ(driver.QueryState().registrations, 1u);

    EXPECT_NE(standin::SendServiceControl(L"QuenvarSvc", SERVICE_CONTROL_STOP), 0u);
    EXPECT_NE(standin::SendServiceControl(L"QuenvarSvc", SERVICE_CONTROL_PAUSE), 0u);
    Sleep(500);
    EXPECT_EQ(standin::ServiceState(L"QuenvarSvc"), static_cast<DWORD>(SERVICE_RUNNING));
    ServiceClient client;
    EXPECT_EQ(client.Hello(), std::optional<uint32_t>(ExpectedDriverStatus));
    LeaveAndLetTheWorkerDetach(client);
}

TEST_F(ServiceRunning, ScreenAccessBeforeAnyClientIsDeniedAtOnceAndStillDelivered) {
    const AccessEvent screen = Event(100, kScreenAccess);
    const AccessEvent hook = Event(101, kKeyboardHook);
    ASSERT_TRUE(driver.Inject({screen, hook}));
    auto journal = driver.WaitForJournal(1, 5000);
    Sleep(500);  // a wrong answer to the hook event would arrive by now
    const auto more = driver.ReadJournal();
    journal.insert(journal.end(), more.begin(), more.end());
    auto replies = RepliesIn(journal);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].eventId, 100u);
    EXPECT_EQ(replies[0].allow, 0u);

    ServiceClient client;
    ASSERT_EQ(client.Hello(), std::optional<uint32_t>(ExpectedDriverStatus));
    EXPECT_TRUE(SameBytes(client.ReadEvent(), screen));
    ASSERT_TRUE(client.WriteReply(100, 1));
    EXPECT_TRUE(SameBytes(client.ReadEvent(), hook));
    ASSERT_TRUE(client.WriteReply(101, 0));
    replies = RepliesIn(driver.WaitForJournal(2, 5000));
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].eventId, 100u);
    EXPECT_EQ(replies[0].allow, 1u);
    EXPECT_EQ(replies[1].eventId, 101u);
    EXPECT_EQ(replies[1].allow, 0u);
    LeaveAndLetTheWorkerDetach(client);
}

TEST_F(ServiceRunning, EventsArriveInDriverOrderAndRepliesReachTheDriverByteForByte) {
    ServiceClient client;
    ASSERT_EQ(client.Hello(), std::optional<uint32_t>(ExpectedDriverStatus));
    std::vector<AccessEvent> events;
    for (uint32_t id = 200; id < 230; ++id) events.push_back(Event(id, id % 3));
    // A path field filled to the end without its NUL passes unchanged.
    for (wchar_t& c : events[5].processPath) c = L'A';
    for (wchar_t& c : events[5].modulePath) c = L'B';
    ASSERT_TRUE(driver.Inject(events));
    for (const AccessEvent& expected : events) {
        auto got = client.ReadEvent();
        ASSERT_TRUE(SameBytes(got, expected)) << expected.eventId;
        ASSERT_TRUE(client.WriteReply(got->eventId, got->eventId % 2 ? 1 : 0xABCD0000));
    }
    const auto replies = RepliesIn(driver.WaitForJournal(events.size(), 10000));
    ASSERT_EQ(replies.size(), events.size());
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(replies[i].eventId, events[i].eventId);
        EXPECT_EQ(replies[i].allow, events[i].eventId % 2 ? 1u : 0xABCD0000u);
    }
    LeaveAndLetTheWorkerDetach(client);
}

TEST_F(ServiceRunning, SecondClientOfTheSessionGetsTheStatusAndIsCutOff) {
    ServiceClient first;
    ASSERT_EQ(first.Hello(), std::optional<uint32_t>(ExpectedDriverStatus));
    Sleep(200);
    ServiceClient second;
    ASSERT_EQ(second.Hello(), std::optional<uint32_t>(ExpectedDriverStatus));
    EXPECT_FALSE(second.ReadEvent().has_value());

    ASSERT_TRUE(driver.Inject({Event(300, kKeyboardHook), Event(301, kForeignTextAccess)}));
    for (uint32_t id : {300u, 301u}) {
        auto got = first.ReadEvent();
        ASSERT_TRUE(got);
        EXPECT_EQ(got->eventId, id);
        ASSERT_TRUE(first.WriteReply(id, 1));
    }
    EXPECT_EQ(RepliesIn(driver.WaitForJournal(2, 5000)).size(), 2u);
    LeaveAndLetTheWorkerDetach(first);
}

TEST_F(ServiceRunning, MalformedClientsEndOnlyTheirOwnConnection) {
    ASSERT_TRUE(driver.Inject(Event(400, kKeyboardHook)));
    {
        ServiceClient shortHello;
        const uint16_t half = 7;
        ASSERT_TRUE(shortHello.Write(&half, sizeof(half)));
        LeaveAndLetTheWorkerDetach(shortHello);
    }
    {
        ServiceClient shortReply;
        ASSERT_TRUE(shortReply.Hello());
        ASSERT_TRUE(shortReply.ReadEvent());
        const uint8_t three[3] = {0x90, 1, 0};
        ASSERT_TRUE(shortReply.Write(three, sizeof(three)));
        LeaveAndLetTheWorkerDetach(shortReply);
    }
    {
        ServiceClient wrongId;
        ASSERT_TRUE(wrongId.Hello());
        ASSERT_TRUE(wrongId.ReadEvent());
        ASSERT_TRUE(wrongId.WriteReply(999, 1));
        EXPECT_FALSE(wrongId.ReadEvent().has_value());
        LeaveAndLetTheWorkerDetach(wrongId);
    }
    {
        ServiceClient goneMidEvent;
        ASSERT_TRUE(goneMidEvent.Hello());
        ASSERT_TRUE(goneMidEvent.ReadEvent());
        LeaveAndLetTheWorkerDetach(goneMidEvent);
    }
    EXPECT_TRUE(driver.ReadJournal().empty());  // nothing reached the driver

    ServiceClient good;
    ASSERT_EQ(good.Hello(), std::optional<uint32_t>(ExpectedDriverStatus));
    auto got = good.ReadEvent();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->eventId, 400u);
    ASSERT_TRUE(good.WriteReply(400, 1));
    const auto replies = RepliesIn(driver.WaitForJournal(1, 5000));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].allow, 1u);
    EXPECT_EQ(standin::ServiceState(L"QuenvarSvc"), static_cast<DWORD>(SERVICE_RUNNING));
    LeaveAndLetTheWorkerDetach(good);
}

TEST_F(ServiceRunning, GuardCommandsGetNoAnswerAndReachTheDriver) {
    for (uint32_t command : {DisableGuardCode, EnableGuardCode}) {
        ServiceClient client;
        ASSERT_TRUE(client.connected());
        ASSERT_TRUE(client.WriteU32(command));
        EXPECT_FALSE(client.ReadU32().has_value());
    }
    const auto journal = driver.WaitForJournal(2, 5000);
    ASSERT_EQ(journal.size(), 2u);
    EXPECT_EQ(journal[0].kind, JOURNAL_DISABLE_GUARD);
    EXPECT_EQ(journal[1].kind, JOURNAL_ENABLE_GUARD);
}

TEST(ServiceDriverStatus, ClientsReceiveWhateverTheDriverReported) {
    ASSERT_TRUE(standin::InstallStandInDriver(BuiltFile(L"QuenvarStandInDriver.sys")));
    standin::StandInDriverClient driver;
    ASSERT_TRUE(driver.SetRegisterStatus(0));
    ASSERT_TRUE(standin::InstallProtectionService(BuiltFile(L"QuenvarSvc.exe")));
    ASSERT_TRUE(standin::StartNamedService(L"QuenvarSvc"));
    ASSERT_TRUE(standin::WaitForPipe(kPipeName, 20000));
    ServiceClient client;
    EXPECT_EQ(client.Hello(), std::optional<uint32_t>(0u));
    // The protocol goes on all the same.
    ASSERT_TRUE(driver.Inject(Event(1, kKeyboardHook)));
    auto got = client.ReadEvent();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->eventId, 1u);
}

TEST(ServiceWithoutDriver, EndsStoppedWithTheOpenErrorAndServesNoPipe) {
    ASSERT_TRUE(standin::InstallProtectionService(BuiltFile(L"QuenvarSvc.exe")));
    // The error that opening the absent device gives.
    const HANDLE absent = CreateFileW(L"\\\\.\\Global\\Quenvar", GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    const DWORD openError = GetLastError();
    ASSERT_EQ(absent, INVALID_HANDLE_VALUE);
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const UniqueServiceHandle service(OpenServiceW(manager.get(), L"QuenvarSvc", SERVICE_START | SERVICE_QUERY_STATUS));
    ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr));
    SERVICE_STATUS status = {};
    EXPECT_TRUE(WaitFor([&] { return QueryServiceStatus(service.get(), &status) && status.dwCurrentState == SERVICE_STOPPED; }, 10000));
    EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
    EXPECT_EQ(status.dwServiceSpecificExitCode, openError);
    EXPECT_FALSE(standin::WaitForPipe(kPipeName, 1000));
}

// Windows refuses the dispatcher at once; Wine's dispatcher first waits about ten
// seconds for a control pipe that never comes, hence the long limit.
TEST(ServiceWithoutDriver, StartedFromACommandLineItExitsWithZero) {
    std::wstring command = L"\"" + BuiltFile(L"QuenvarSvc.exe") + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process));
    UniqueHandle thread(process.hThread), program(process.hProcess);
    EXPECT_EQ(WaitForSingleObject(program.get(), 30000), WAIT_OBJECT_0);
    DWORD code = 1234;
    GetExitCodeProcess(program.get(), &code);
    EXPECT_EQ(code, 0u);
}
