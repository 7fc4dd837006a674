// QuenvarUI's link to the service, whole system under Wine: a flood of other
// programs' connections, either program ended and started again, a session held
// by another client, a program posing as the service, and other programs' quit
// messages. None of them may leave the session unprotected for good.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <deque>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "E2eSupport.h"
#include "SystemSupport.h"
#include "common/PipeProtocol.h"
#include "common/UniqueResource.h"
#include "support/StandInDriverClient.h"
#include "support/WineSystem.h"

using namespace quenvar;
using namespace quenvar::e2e;

namespace {

// The program's own texts, written out here so that a changed text fails.
const std::wstring kSuspendedLine =
    L"Protection suspended: the link to the protection service was lost.  Reconnecting...";
const std::wstring kBackLine = L"Protection resumed: the link to the protection service is back.";
const std::wstring kForeignQuitLine = L"Ignored a request from another program to close Quenvar Lockmere.";
const std::wstring kImpostorLine = L"Refused a program posing as the protection service.";

// The service's threads: main, registry guard, filter vetting, four listeners,
// a few for the SCM and Wine, and at most 256 workers.
constexpr size_t kServiceThreadBound = 256 + 16;

DWORD ThreadsOf(DWORD processId) {
    const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    DWORD count = 0;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry))
        count += entry.th32OwnerProcessID == processId ? 1 : 0;
    return count;
}

// The service's process id, as the Service Control Manager knows it (0: none).
DWORD ServiceProcess() {
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const UniqueServiceHandle service(OpenServiceW(manager.get(), L"QuenvarSvc", SERVICE_QUERY_STATUS));
    SERVICE_STATUS_PROCESS state = {};
    DWORD size = 0;
    if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&state), sizeof(state),
                              &size))
        return 0;
    return state.dwCurrentState == SERVICE_RUNNING ? state.dwProcessId : 0;
}

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(InstallSystem(true));
        ASSERT_TRUE(driver.emplace().ok());
    }
    void TearDown() override { EndProgram(ui); }

    void StartUi() {
        ui = StartProgram(standin::WindowsFolder() + L"\\QuenvarUI.exe", L"");
        ASSERT_NE(ui.hProcess, nullptr);
    }
    // Injects a keyboard-hook event of a program never seen before; its id.
    uint32_t InjectNew() {
        const uint32_t id = ++nextId;
        const std::wstring program = L"C:\\quenvar-link\\program" + std::to_wstring(id) + L".exe";
        MakeProgramFile(program, static_cast<int>(id));
        EXPECT_TRUE(driver->Inject(standin::MakeEvent(id, kKeyboardHook, GetCurrentProcessId(), KernelPath(program),
                                                     KernelPath(program), 0x44)));
        return id;
    }
    // The prompt of event `id` is answered Allow within limitMs, and the driver
    // gets exactly one answer for it, that one.
    bool Answered(uint32_t id, DWORD limitMs) {
        const DWORD start = GetTickCount();
        HWND prompt = FindPrompt(ui.dwProcessId, limitMs);
        if (prompt == nullptr) return false;
        ClickButton(prompt, 6);
        const auto answers = [&] {
            for (const auto& entry : driver->ReadJournal())
                if (entry.kind == 1) replies.push_back(standin::ReplyOf(entry));
            return std::count_if(replies.begin(), replies.end(), [id](const AccessReply& r) { return r.eventId == id; });
        };
        const DWORD spent = GetTickCount() - start;
        if (!WaitFor([&] { return answers() > 0; }, limitMs > spent ? limitMs - spent : 0)) return false;
        Sleep(100);  // time for a second answer to show
        return answers() == 1 && std::find_if(replies.begin(), replies.end(), [id](const AccessReply& r) {
                                     return r.eventId == id;
                                 })->allow == 1;
    }
    bool AnswersANewEvent(DWORD limitMs) { return Answered(InjectNew(), limitMs); }
    size_t Lines(const std::wstring& text) {
        size_t count = 0;
        for (const auto& row : ReadLogRows(ui.dwProcessId)) count += row.second == text ? 1 : 0;
        return count;
    }
    bool LogShows(const std::wstring& text, DWORD limitMs) {
        return WaitFor([&] { return Lines(text) > 0; }, limitMs);
    }
    // The service accepts no stop: its process is ended.
    void EndService() {
        const DWORD service = ServiceProcess();
        ASSERT_NE(service, 0u);
        const UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, service));
        ASSERT_TRUE(TerminateProcess(process.get(), 1));
        ASSERT_EQ(WaitForSingleObject(process.get(), 10000), WAIT_OBJECT_0);
    }
    void RestartService() {
        const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        const UniqueServiceHandle handle(OpenServiceW(manager.get(), L"QuenvarSvc", SERVICE_START));
        ASSERT_TRUE(WaitFor([&] { return StartServiceW(handle.get(), 0, nullptr) != FALSE; }, 20000));
    }

    PROCESS_INFORMATION ui = {};
    std::optional<standin::StandInDriverClient> driver;  // the device exists once installed
    uint32_t nextId = 5000;
    std::vector<AccessReply> replies;  // every answer the driver got, in order
};

// Hostile connections from eight threads: each waits for an instance, connects
// and either closes at once or holds the connection idle, keeping up to eight.
class Flood {
public:
    explicit Flood(DWORD lastsMs) {
        for (int i = 0; i < 8; ++i)
            threads_.emplace_back([this, lastsMs, i] {
                std::deque<UniqueHandle> idle;
                const DWORD start = GetTickCount();
                for (unsigned n = 0; GetTickCount() - start < lastsMs; ++n) {
                    WaitNamedPipeW(kPipeName, 100);
                    UniqueHandle pipe(CreateFileW(kPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                                  0, nullptr));
                    if (!pipe) continue;
                    ++connections;
                    if ((n + i) % 2 == 0) continue;  // connect and close
                    idle.push_back(std::move(pipe));
                    if (idle.size() > 8) idle.pop_front();
                }
            });
    }
    ~Flood() {
        for (std::thread& thread : threads_) thread.join();
    }
    std::atomic<unsigned> connections{0};

private:
    std::vector<std::thread> threads_;
};

using LinkFlood = LinkTest;
using LinkProgramRestart = LinkTest;
using LinkServiceRestart = LinkTest;
using LinkRefused = LinkTest;
using LinkImpostor = LinkTest;
using LinkForeignQuit = LinkTest;

}  // namespace

// The flood lasts past the minute after which a program that found no service
// would have given up for good.
TEST_F(LinkFlood, AProgramStartedDuringAFloodLinksAndTheServiceStaysWithinItsThreadBound) {
    const DWORD service = ServiceProcess();
    ASSERT_NE(service, 0u);
    size_t mostThreads = 0;
    {
        Flood flood(65000);
        Sleep(3000);
        StartUi();
        const uint32_t id = InjectNew();
        const DWORD start = GetTickCount();
        EXPECT_TRUE(Answered(id, 30000));
        std::printf("linked and answered %lu ms after the start, during the flood\n", GetTickCount() - start);
        EXPECT_EQ(FindDialogOf(ui.dwProcessId, L"Initialization Error, Protection Disabled", 0), nullptr);
        while (WaitForSingleObject(ui.hProcess, 500) == WAIT_TIMEOUT && GetTickCount() - start < 62000)
            mostThreads = std::max<size_t>(mostThreads, ThreadsOf(service));
        EXPECT_GT(flood.connections.load(), 1000u);
        std::printf("%u hostile connections, at most %zu service threads\n", flood.connections.load(), mostThreads);
    }
    EXPECT_LE(mostThreads, kServiceThreadBound);
    EXPECT_EQ(Lines(L"Initialization error, protection disabled.  Error code = NO SERVICE."), 0u);
    // After the flood a fresh client is served.
    EndProgram(ui);
    StartUi();
    EXPECT_TRUE(AnswersANewEvent(20000));
}

TEST_F(LinkProgramRestart, AProgramEndedAndStartedAgainIsServedIdleOrWithAPromptOpen) {
    StartUi();
    ASSERT_TRUE(AnswersANewEvent(20000));
    EndProgram(ui);  // terminated while idle
    StartUi();
    EXPECT_TRUE(AnswersANewEvent(10000));

    // Ended while its prompt is open: the event waits for the next program.
    const uint32_t open = InjectNew();
    ASSERT_NE(FindPrompt(ui.dwProcessId, 10000), nullptr);
    EndProgram(ui);
    StartUi();
    EXPECT_TRUE(Answered(open, 10000));
    EXPECT_TRUE(AnswersANewEvent(10000));
}

// The Service Control Manager starts the ended service again.
TEST_F(LinkServiceRestart, AfterTheServiceIsStartedAgainTheRunningProgramSaysSoAndIsServed) {
    StartUi();
    ASSERT_TRUE(AnswersANewEvent(20000));
    EndService();
    EXPECT_TRUE(LogShows(kSuspendedLine, 10000));
    EXPECT_EQ(Lines(kBackLine), 0u);
    RestartService();
    EXPECT_TRUE(LogShows(kBackLine, 40000));
    EXPECT_EQ(Lines(kSuspendedLine), 1u);
    EXPECT_TRUE(AnswersANewEvent(10000));
}

// While the service is away, this test program takes the pipe's name with
// instances of its own, owned by its own user, and accepts every connection.
class Impostor {
public:
    Impostor() {
        UniqueHandle token;
        OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive());
        DWORD size = 0;
        GetTokenInformation(token.get(), TokenUser, user_, sizeof(user_), &size);
        InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&descriptor_, TRUE, nullptr, FALSE);
        SetSecurityDescriptorOwner(&descriptor_, reinterpret_cast<TOKEN_USER*>(user_)->User.Sid, FALSE);
        thread_ = std::thread([this] {
            while (!stop_) {
                UniqueHandle pipe(CreateNamedPipeW(kPipeName, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT,
                                                   PIPE_UNLIMITED_INSTANCES, 64, 64, 0, &attributes_));
                if (!pipe) break;
                if (ConnectNamedPipe(pipe.get(), nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) ++connections;
            }
            done_ = true;
        });
    }
    ~Impostor() {
        stop_ = true;
        while (!done_) {  // a connection of its own wakes the thread's wait
            UniqueHandle wake(CreateFileW(kPipeName, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            Sleep(10);
        }
        thread_.join();
    }
    std::atomic<unsigned> connections{0};

private:
    alignas(8) BYTE user_[256] = {};
    SECURITY_DESCRIPTOR descriptor_ = {};
    SECURITY_ATTRIBUTES attributes_ = {sizeof(attributes_), &descriptor_, FALSE};
    std::atomic<bool> stop_{false}, done_{false};
    std::thread thread_;
};

// The program refuses the impostor's pipe, says so once, and links to the real
// service once it serves again.
TEST_F(LinkImpostor, AProgramPosingAsTheServiceIsRefusedAndTheRealServiceIsLinkedAgain) {
    StartUi();
    ASSERT_TRUE(AnswersANewEvent(20000));
    EndService();
    {
        Impostor impostor;
        ASSERT_TRUE(LogShows(kImpostorLine, 20000));
        ASSERT_TRUE(WaitFor([&] { return impostor.connections >= 3; }, 20000));  // refused each time
        EXPECT_EQ(Lines(kImpostorLine), 1u);
    }
    RestartService();
    EXPECT_TRUE(LogShows(kBackLine, 40000));
    EXPECT_TRUE(AnswersANewEvent(10000));
    EXPECT_EQ(Lines(kImpostorLine), 1u);
}

TEST_F(LinkRefused, ProgramCutOffBecauseAnotherClientHoldsTheSessionSaysSoOnceAndLinksWhenItLeaves) {
    ServiceClient holder;
    ASSERT_EQ(holder.Hello(), std::optional<uint32_t>(ExpectedDriverStatus));
    StartUi();
    ASSERT_TRUE(LogShows(kSuspendedLine, 20000));
    Sleep(2000);  // several refused attempts
    EXPECT_EQ(Lines(kSuspendedLine), 1u);
    holder.Close();
    EXPECT_TRUE(LogShows(kBackLine, 20000));
    EXPECT_TRUE(AnswersANewEvent(10000));
    EXPECT_EQ(Lines(kSuspendedLine), 1u);
}

// Any program of the desktop can post these; only the end of the session ends
// the program, and Windows ends the process after telling its windows.
TEST_F(LinkForeignQuit, QuitMessagesOfOtherProgramsLeaveItRunningAndServing) {
    StartUi();
    ASSERT_TRUE(AnswersANewEvent(20000));
    HWND main = MainWindowOf(ui.dwProcessId);
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(PostMessageW(main, WM_QUIT, 0, 0));
    ASSERT_TRUE(PostThreadMessageW(GetWindowThreadProcessId(main, nullptr), WM_QUIT, 0, 0));
    // A forged end of the session is not an end either.
    SendMessageW(main, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    EXPECT_TRUE(LogShows(kForeignQuitLine, 5000));
    EXPECT_TRUE(AnswersANewEvent(10000));
    EXPECT_EQ(WaitForSingleObject(ui.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(Lines(kForeignQuitLine), 1u);
}
