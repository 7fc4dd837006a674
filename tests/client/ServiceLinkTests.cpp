// The service link thread against this test program acting as the service: it
// creates the service's pipe itself, answers the hello and sends events.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ClientTestSupport.h"

#include "client/EventJudge.h"
#include "client/LogSink.h"
#include "client/PathField.h"
#include "client/RecordSignature.h"
#include "client/ServiceLink.h"
#include "common/PipeProtocol.h"
#include "common/UniqueResource.h"
#include "common/WideFormat.h"
#include "resources/ResourceIds.h"
#include "ui/AppInstance.h"
#include "ui/MessageBoxCall.h"
#include "SeamOverride.h"
#include "ui/UiTestSupport.h"

using namespace quenvar;
using quenvar::testing::RememberRights;
using quenvar::testing::SeamOverride;

namespace {

constexpr const wchar_t* kRightsKey = L"Software\\Quenvar\\Lockmere\\Rights\\";
constexpr const wchar_t* kErrorTitle = L"Initialization Error, Protection Disabled";

// The service's end of one connection.
class FakeService {
public:
    FakeService()
        : pipe_(CreateNamedPipeW(kPipeName, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_BYTE | PIPE_WAIT, 1,
                                 1024, 1024, 0, nullptr)) {}
    bool Accept() { return ConnectNamedPipe(pipe_.get(), nullptr) || GetLastError() == ERROR_PIPE_CONNECTED; }
    bool Read(void* data, DWORD size) {
        DWORD moved = 0;
        return ReadFile(pipe_.get(), data, size, &moved, nullptr) && moved == size;
    }
    bool Write(const void* data, DWORD size) {
        DWORD moved = 0;
        return WriteFile(pipe_.get(), data, size, &moved, nullptr) && moved == size;
    }
    // Reads the hello and answers it with the status.
    uint32_t Hello(uint32_t status) {
        uint32_t hello = 0;
        EXPECT_TRUE(Accept());
        EXPECT_TRUE(Read(&hello, sizeof(hello)));
        EXPECT_TRUE(Write(&status, sizeof(status)));
        return hello;
    }
    AccessReply Ask(const AccessEvent& event) {
        AccessReply reply = {0xFFFFFFFF, 0xFFFFFFFF};
        EXPECT_TRUE(Write(&event, sizeof(event)));
        EXPECT_TRUE(Read(&reply, sizeof(reply)));
        return reply;
    }
    // The 4-byte command of a one-shot client; 0 when none came.
    uint32_t Command() {
        uint32_t command = 0;
        EXPECT_TRUE(Read(&command, sizeof(command)));
        return command;
    }
    void Close() { pipe_.reset(); }
    void Disconnect() { DisconnectNamedPipe(pipe_.get()); }

private:
    UniqueHandle pipe_;
};

// Runs ServiceLinkThread and tells when it has ended.
class LinkThread {
public:
    LinkThread() : thread_(CreateThread(nullptr, 0x7FFF, ServiceLinkThread, nullptr, 0, &id_)) {}
    bool Ended(DWORD timeoutMs) { return WaitForSingleObject(thread_.get(), timeoutMs) == WAIT_OBJECT_0; }
    DWORD id() const { return id_; }

private:
    DWORD id_ = 0;
    UniqueHandle thread_;
};

// The access prompt of this process once it is shown, or null.
HWND WaitForPrompt(DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    do {
        HWND prompt = FindWindowW(L"#32770", L"Quenvar Lockmere");
        if (prompt != nullptr && IsWindowVisible(prompt)) return prompt;
        Sleep(20);
    } while (GetTickCount() - start < timeoutMs);
    return nullptr;
}

// Presses one of the prompt's answer buttons as the mouse would.
void ClickAnswer(HWND prompt, int buttonId) {
    PostMessageW(prompt, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(prompt, buttonId)));
}

bool StoredRightsExist(const std::wstring& path) {
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRightsKey, 0, KEY_QUERY_VALUE, key.receive()) != ERROR_SUCCESS)
        return false;
    return RegQueryValueExW(key.get(), path.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// The lines the client wrote to the log during a test.
std::vector<std::wstring> loggedLines;
void RecordLogLine(const wchar_t* format, va_list args) {
    wchar_t text[1024];
    FormatIntoV(text, 1024, format, args);
    loggedLines.push_back(text);
}

int boxesShown = 0;
int WINAPI CountBox(HWND, LPCWSTR, LPCWSTR, UINT) {
    ++boxesShown;
    return IDOK;
}

// Finds a message box of this process by caption, keeps its text, presses OK.
std::wstring AnswerBox(const wchar_t* caption, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        HWND box = FindWindowW(L"#32770", caption);
        if (box != nullptr && IsWindowVisible(box)) {
            wchar_t text[1024] = {};
            GetDlgItemTextW(box, 0xFFFF, text, 1024);
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            return text;
        }
        Sleep(30);
    }
    return L"";
}

std::wstring MakeProgram(const wchar_t* name, int salt) {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::wstring path = std::wstring(folder) + name;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, &salt, sizeof(salt), &written, nullptr);
    CloseHandle(file);
    return path;
}

AccessEvent Event(uint32_t id, uint32_t kind, const std::wstring& process, const std::wstring& module) {
    AccessEvent event = {};
    event.eventId = id;
    event.breachKind = kind;
    event.processId = GetCurrentProcessId();
    StorePathField(event.processPath, process);
    StorePathField(event.modulePath, module);
    return event;
}

class ServiceLinkTest : public ::testing::Test {
protected:
    // By hand: a pointer type with va_list in it loses its attributes as a
    // template argument.
    ServiceLinkTest() : savedSink(logSink) { logSink = RecordLogLine; }
    ~ServiceLinkTest() override { logSink = savedSink; }
    LogSink savedSink;

    void SetUp() override {
        quenvar::testing::PrepareWindows();
        loggedLines.clear();
        serviceLinkTiming = {60, 1000};
        wcscpy(breachLogPrefix[0], L"Blocked illegal screen access in");
        wcscpy(breachLogPrefix[1], L"Blocked illegal keyboard hook in");
        wcscpy(breachLogPrefix[2], L"Blocked foreign text access in");
    }
};

}  // namespace

TEST(ServiceLinkKinds, KindTextAndBitFollowTheKind) {
    wcscpy(breachLogPrefix[1], L"hook prefix");
    EXPECT_STREQ(KindText(1), L"hook prefix");
    EXPECT_STREQ(KindText(3), L"unknown");
    EXPECT_STREQ(KindText(0xFFFFFFFF), L"unknown");
    EXPECT_EQ(KindBit(0), 1u);
    EXPECT_EQ(KindBit(5), 32u);
    EXPECT_EQ(KindBit(33), 2u);  // the shift count modulo 32
}

TEST(ServiceLinkPaths, AFieldWithoutItsNulIsReadOnlyWithinItsUnits) {
    AccessEvent event;
    std::fill(std::begin(event.processPath), std::end(event.processPath), L'x');
    event.threadId = 0x00410041;  // what follows the field must not be read
    EXPECT_EQ(PathField(event.processPath), std::wstring(kPathUnits, L'x'));
    StorePathField(event.modulePath, L"C:\\a.exe");
    EXPECT_EQ(PathField(event.modulePath), L"C:\\a.exe");
}

TEST(ServiceLinkPaths, APathIsStoredWholeUpTo261CharactersAndCutBeyondSoThatTheFieldKeepsItsNul) {
    for (const size_t length : {kPathUnits - 2, kPathUnits - 1, kPathUnits, size_t{400}}) {
        AccessEvent event;
        std::fill(std::begin(event.modulePath), std::end(event.modulePath), L'?');
        const std::wstring path = L"C:\\" + std::wstring(length - 3, L'd');
        StorePathField(event.modulePath, path);
        EXPECT_EQ(event.modulePath[kPathUnits - 1], L'\0') << length;
        EXPECT_EQ(PathField(event.modulePath), path.substr(0, kPathUnits - 1)) << length;
        StorePathField(event.modulePath, L"C:\\b");
        EXPECT_EQ(PathField(event.modulePath), L"C:\\b");  // nothing of the longer path is left
        EXPECT_EQ(event.modulePath[10], L'\0');
    }
}

TEST_F(ServiceLinkTest, NoServiceWithinTheAttemptsShowsNoServiceAndEnds) {
    serviceLinkTiming = {3, 50};
    LinkThread link;
    // Its text is compared with all the others in UserTexts.
    EXPECT_FALSE(AnswerBox(kErrorTitle, 10000).empty());
    EXPECT_TRUE(link.Ended(5000));
}

TEST_F(ServiceLinkTest, AnUnexpectedDriverStatusIsReportedAndEventsAreStillJudged) {
    const std::wstring allowed = MakeProgram(L"quenvar-link-allowed.exe", 1);
    const std::wstring denied = MakeProgram(L"quenvar-link-denied.exe", 2);
    RememberRights(allowed, 0, 0x07);
    RememberRights(denied, 0x07, 0);
    FakeService service;
    LinkThread link;
    EXPECT_EQ(service.Hello(0x1234), GetCurrentProcessId());
    EXPECT_FALSE(AnswerBox(kErrorTitle, 10000).empty());

    EXPECT_EQ(service.Ask(Event(1, kScreenAccess, allowed, allowed)).allow, 1u);
    const AccessReply reply = service.Ask(Event(2, kKeyboardHook, denied, denied));
    EXPECT_EQ(reply.eventId, 2u);
    EXPECT_EQ(reply.allow, 0u);
    // An allowed process whose module is denied is denied.
    EXPECT_EQ(service.Ask(Event(3, kForeignTextAccess, allowed, denied)).allow, 0u);
    service.Close();
    EXPECT_TRUE(link.Ended(5000));  // the failed read ends the thread
}

TEST_F(ServiceLinkTest, AShortEventEndsTheThreadSilently) {
    FakeService service;
    LinkThread link;
    EXPECT_EQ(service.Hello(ExpectedDriverStatus), GetCurrentProcessId());
    const uint8_t part[100] = {};
    ASSERT_TRUE(service.Write(part, sizeof(part)));
    service.Close();
    EXPECT_TRUE(link.Ended(5000));
    EXPECT_EQ(FindWindowW(L"#32770", kErrorTitle), nullptr);
}

TEST_F(ServiceLinkTest, SendDisableGuardWritesTheCommandAndNothingElse) {
    EXPECT_FALSE(SendDisableGuard());  // no service
    FakeService service;
    std::atomic<bool> sent{false};
    std::thread client([&] { sent = SendDisableGuard(); });
    ASSERT_TRUE(service.Accept());
    EXPECT_EQ(service.Command(), DisableGuardCode);
    client.join();
    EXPECT_TRUE(sent);
    uint8_t more = 0;
    EXPECT_FALSE(service.Read(&more, 1));  // it closed without more
}

// Wine reports no handle count (GetProcessHandleCount gives 0), so the handles
// are counted by asking about every possible handle value.
DWORD LiveHandles() {
    DWORD count = 0, flags = 0;
    for (uintptr_t value = 4; value < 0x20000; value += 4)
        count += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
    return count;
}

TEST_F(ServiceLinkTest, ManyRememberedDecisionsLeaveNoHandlesBehind) {
    const std::wstring allowed = MakeProgram(L"quenvar-link-steady.exe", 3);
    RememberRights(allowed, 0, 0x07);
    FakeService service;
    LinkThread link;
    EXPECT_EQ(service.Hello(ExpectedDriverStatus), GetCurrentProcessId());
    EXPECT_EQ(service.Ask(Event(1, kScreenAccess, allowed, allowed)).allow, 1u);  // caches built
    const DWORD before = LiveHandles();
    ASSERT_GT(before, 0u);
    for (uint32_t id = 2; id < 2000; ++id) ASSERT_EQ(service.Ask(Event(id, id % 3, allowed, allowed)).allow, 1u);
    const DWORD after = LiveHandles();
    EXPECT_LE(after, before + 2) << before << " handles before, " << after << " after";
    service.Close();
    EXPECT_TRUE(link.Ended(5000));
}

// A rootless path fills its 262-unit field without a NUL; on the Windows
// drive it becomes 264 characters, and a cut at 261 would leave "notepad.exe".
TEST_F(ServiceLinkTest, ThePromptNamesAndTheAnswerKeepsTheWholeJudgedPath) {
    std::wstring rootless = L"\\";
    while (rootless.size() < kPathUnits - 15) rootless += L"deepfolder\\";
    rootless.resize(kPathUnits - 15);
    rootless += L"\\notepad.exexyz";
    ASSERT_EQ(rootless.size(), kPathUnits);
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring judged = std::wstring(windows, 2) + rootless;
    const std::wstring cut = judged.substr(0, kPathUnits - 1);
    ASSERT_EQ(cut.substr(cut.size() - 11), L"notepad.exe");
    RegDeleteValueW(HKEY_CURRENT_USER, judged.c_str());

    FakeService service;
    LinkThread link;
    EXPECT_EQ(service.Hello(ExpectedDriverStatus), GetCurrentProcessId());
    AccessEvent event = Event(1, kScreenAccess, L"", L"");
    std::copy(rootless.begin(), rootless.end(), event.processPath);
    std::copy(rootless.begin(), rootless.end(), event.modulePath);
    ASSERT_TRUE(service.Write(&event, sizeof(event)));
    HWND prompt = WaitForPrompt(10000);
    ASSERT_NE(prompt, nullptr);
    const std::wstring text = quenvar::testing::RichText(GetDlgItem(prompt, IDC_PROMPT_TEXT));
    EXPECT_NE(text.find(L"\"notepad.exexyz\""), std::wstring::npos) << text;
    EXPECT_NE(text.find(judged), std::wstring::npos) << text;
    ClickAnswer(prompt, IDC_ALLOW_ACCESS);
    AccessReply reply = {};
    ASSERT_TRUE(service.Read(&reply, sizeof(reply)));
    EXPECT_EQ(reply.allow, 1u);
    EXPECT_TRUE(StoredRightsExist(judged));
    EXPECT_FALSE(StoredRightsExist(cut));
    service.Close();
    EXPECT_TRUE(link.Ended(5000));
    RegDeleteValueW(HKEY_CURRENT_USER, judged.c_str());
}

TEST_F(ServiceLinkTest, APromptThatCannotBeShownDeniesTheEventStoresNothingAndLogsOnce) {
    const std::wstring first = MakeProgram(L"quenvar-link-noprompt1.exe", 11);
    const std::wstring second = MakeProgram(L"quenvar-link-noprompt2.exe", 12);
    RegDeleteValueW(HKEY_CURRENT_USER, first.c_str());
    RegDeleteValueW(HKEY_CURRENT_USER, second.c_str());
    // A module without the prompt's dialog template: no prompt window can be made.
    SeamOverride<HINSTANCE> resources{appInstance, GetModuleHandleW(L"kernel32.dll")};
    FakeService service;
    LinkThread link;
    EXPECT_EQ(service.Hello(ExpectedDriverStatus), GetCurrentProcessId());
    EXPECT_EQ(service.Ask(Event(1, kScreenAccess, first, first)).allow, 0u);
    EXPECT_EQ(service.Ask(Event(2, kKeyboardHook, second, second)).allow, 0u);
    EXPECT_EQ(service.Ask(Event(3, kScreenAccess, first, first)).allow, 0u);
    service.Close();
    EXPECT_TRUE(link.Ended(5000));
    EXPECT_FALSE(StoredRightsExist(first));
    EXPECT_FALSE(StoredRightsExist(second));
    EXPECT_EQ(loggedLines.size(), 1u);
}

// Any process of the desktop can post the quit message to the prompt's thread.
TEST_F(ServiceLinkTest, AQuitMessageDeniesOnlyThatEventAndTheNextPromptStillAsks) {
    const std::wstring program = MakeProgram(L"quenvar-link-quit.exe", 13);
    RegDeleteValueW(HKEY_CURRENT_USER, program.c_str());
    FakeService service;
    LinkThread link;
    EXPECT_EQ(service.Hello(ExpectedDriverStatus), GetCurrentProcessId());
    AccessEvent event = Event(1, kScreenAccess, program, program);
    ASSERT_TRUE(service.Write(&event, sizeof(event)));
    ASSERT_NE(WaitForPrompt(10000), nullptr);
    ASSERT_TRUE(PostThreadMessageW(link.id(), WM_QUIT, 0, 0));
    AccessReply reply = {};
    ASSERT_TRUE(service.Read(&reply, sizeof(reply)));
    EXPECT_EQ(reply.eventId, 1u);
    EXPECT_EQ(reply.allow, 0u);
    EXPECT_FALSE(StoredRightsExist(program));

    event.eventId = 2;
    ASSERT_TRUE(service.Write(&event, sizeof(event)));
    HWND prompt = WaitForPrompt(10000);
    ASSERT_NE(prompt, nullptr);
    Sleep(300);
    ASSERT_TRUE(IsWindow(prompt) && IsWindowVisible(prompt));  // it waits for the user
    ClickAnswer(prompt, IDC_ALLOW_ACCESS);
    ASSERT_TRUE(service.Read(&reply, sizeof(reply)));
    EXPECT_EQ(reply.eventId, 2u);
    EXPECT_EQ(reply.allow, 1u);
    EXPECT_TRUE(StoredRightsExist(program));
    service.Close();
    EXPECT_TRUE(link.Ended(5000));
}

TEST_F(ServiceLinkTest, ARememberedDeniedProcessIsDeniedWhateverIsRememberedOfItsModule) {
    const std::wstring denied = MakeProgram(L"quenvar-link-denied-host.exe", 14);
    const std::wstring unsettled = MakeProgram(L"quenvar-link-unjudged.dll", 15);
    const std::wstring allowed = MakeProgram(L"quenvar-link-allowed-plugin.dll", 16);
    RememberRights(denied, 0x07, 0);
    RememberRights(allowed, 0, 0x07);
    RegDeleteValueW(HKEY_CURRENT_USER, unsettled.c_str());
    FakeService service;
    LinkThread link;
    EXPECT_EQ(service.Hello(ExpectedDriverStatus), GetCurrentProcessId());
    uint32_t id = 0;
    // The allowed module first: a fault that judges it gives allow 1 at once,
    // where the unsettled one would wait for a prompt.
    for (const std::wstring& module : {allowed, unsettled}) {
        loggedLines.clear();
        // Were the unsettled module judged, a prompt would hold the reply back.
        const AccessReply reply = service.Ask(Event(++id, kScreenAccess, denied, module));
        EXPECT_EQ(reply.eventId, id);
        ASSERT_EQ(reply.allow, 0u);
        EXPECT_EQ(loggedLines, std::vector<std::wstring>{L"Blocked illegal screen access in '" + denied + L"'"});
    }
    EXPECT_EQ(FindWindowW(L"#32770", L"Quenvar Lockmere"), nullptr);
    EXPECT_FALSE(StoredRightsExist(unsettled));
    service.Close();
    EXPECT_TRUE(link.Ended(5000));
}

// The program starts before the service: it keeps trying and, once the pipe
// is there, is served like any other.
TEST_F(ServiceLinkTest, AServiceThatAppearsOnlyAfterSeveralSecondsIsConnectedAndServed) {
    const std::wstring allowed = MakeProgram(L"quenvar-link-late-allowed.exe", 17);
    const std::wstring denied = MakeProgram(L"quenvar-link-late-denied.exe", 18);
    RememberRights(allowed, 0, 0x07);
    RememberRights(denied, 0x07, 0);
    serviceLinkTiming = {60, 200};
    // Counted, not shown: a thread that gave up must not leave a box behind.
    SeamOverride<MessageBoxFunction> boxes{showMessageBox, CountBox};
    boxesShown = 0;
    LinkThread link;
    Sleep(3000);
    ASSERT_FALSE(link.Ended(0));  // else nobody would connect to the service below
    FakeService service;
    EXPECT_EQ(service.Hello(ExpectedDriverStatus), GetCurrentProcessId());
    const AccessReply first = service.Ask(Event(7, kKeyboardHook, allowed, allowed));
    EXPECT_EQ(first.eventId, 7u);
    EXPECT_EQ(first.allow, 1u);
    const AccessReply second = service.Ask(Event(8, kForeignTextAccess, denied, denied));
    EXPECT_EQ(second.eventId, 8u);
    EXPECT_EQ(second.allow, 0u);
    EXPECT_EQ(loggedLines, std::vector<std::wstring>{L"Blocked foreign text access in '" + denied + L"'"});
    EXPECT_EQ(boxesShown, 0);
    service.Close();
    EXPECT_TRUE(link.Ended(5000));
}

// The uninstall's command must get through while a program of the logon is
// being served on the one pipe instance.
TEST_F(ServiceLinkTest, SendDisableGuardWaitsWhileThePipeIsBusy) {
    FakeService service;
    std::thread occupant([] {
        UniqueHandle busy(CreateFileW(kPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        Sleep(1500);
    });
    ASSERT_TRUE(service.Accept());
    std::atomic<bool> sent{false};
    std::thread client([&] {
        Sleep(200);  // the occupant holds the only instance by now
        sent = SendDisableGuard();
        // A command that gave up must not leave the service waiting for ever.
        for (int attempt = 0; !sent && attempt < 100; ++attempt) {
            const UniqueHandle nudge(
                CreateFileW(kPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            if (nudge) break;
            Sleep(100);
        }
    });
    occupant.join();
    service.Disconnect();
    ASSERT_TRUE(service.Accept());
    EXPECT_EQ(service.Command(), DisableGuardCode);
    client.join();
    EXPECT_TRUE(sent);
}

// Random event records through the real link thread. Most name programs whose
// rights are remembered; some name unsettled or random paths, whose prompts an
// answerer thread clicks. Every event gets exactly one well-formed reply.
TEST_F(ServiceLinkTest, TenThousandRandomEventsEachGetOneWellFormedReply) {
    const std::wstring allowed = MakeProgram(L"quenvar-fuzz-allowed.exe", 21);
    const std::wstring denied = MakeProgram(L"quenvar-fuzz-denied.exe", 22);
    const std::wstring module = MakeProgram(L"quenvar-fuzz-module.dll", 23);
    RememberRights(allowed, 0, 0xFF);
    RememberRights(denied, 0xFF, 0);
    RememberRights(module, 0, 0xFF);
    std::atomic<bool> answering{true};
    std::atomic<int> answered{0};
    std::thread answerer([&] {
        while (answering) {
            HWND prompt = FindWindowW(L"#32770", L"Quenvar Lockmere");
            if (prompt != nullptr && IsWindowVisible(prompt)) {
                ClickAnswer(prompt, (answered++ % 2) == 0 ? IDC_ALLOW_ACCESS : IDC_DENY_ACCESS);
                Sleep(30);
            } else {
                Sleep(5);
            }
        }
    });

    FakeService service;
    LinkThread link;
    EXPECT_EQ(service.Hello(ExpectedDriverStatus), GetCurrentProcessId());
    EXPECT_EQ(service.Ask(Event(1, kScreenAccess, allowed, allowed)).allow, 1u);  // caches built
    const DWORD before = LiveHandles();

    std::mt19937 random(20261207);
    const std::wstring known[] = {allowed, denied, module};
    int mismatches = 0;
    for (uint32_t id = 2; id < 10002; ++id) {
        AccessEvent event = {};
        event.eventId = id;
        const uint32_t roll = random() % 100;
        // Kinds 0 to 2 mostly, 3 and above often, very large ones sometimes.
        event.breachKind = roll < 60 ? random() % 3 : roll < 90 ? 3 + random() % 29 : static_cast<uint32_t>(random());
        event.processId = GetCurrentProcessId();
        event.threadId = static_cast<uint32_t>(random());
        const uint32_t pathRoll = random() % 1000;
        const std::wstring& process = known[random() % 3];
        const std::wstring& other = known[random() % 3];
        StorePathField(event.processPath, process);
        StorePathField(event.modulePath, pathRoll < 500 ? process : other);
        if (pathRoll < 5) {
            // Random units, unterminated. Latin and Cyrillic only: Wine's
            // gdi32 faults (a read inside gdi32.dll) while the prompt draws
            // some other units, which says nothing about this program.
            for (wchar_t& unit : event.modulePath) {
                const uint32_t pick = random() % (0x230 + 0x100);
                unit = static_cast<wchar_t>(pick < 0x230 ? 0x20 + pick : 0x400 + (pick - 0x230));
            }
        } else if (pathRoll < 10) {
            for (wchar_t& unit : event.processPath) unit = static_cast<wchar_t>(L'a' + random() % 26);
        }
        AccessReply reply = {0xFFFFFFFF, 0xFFFFFFFF};
        ASSERT_TRUE(service.Write(&event, sizeof(event))) << id;
        ASSERT_TRUE(service.Read(&reply, sizeof(reply))) << id;
        ASSERT_EQ(reply.eventId, id);
        ASSERT_LE(reply.allow, 1u);
        // Remembered programs with a bit the records can hold answer from memory.
        const uint32_t bit = KindBit(event.breachKind);
        if (pathRoll >= 10 && bit <= 0x80) {
            const bool processDenied = process == denied;
            const bool moduleDenied = PathField(event.modulePath) == denied;
            const uint32_t expected = processDenied || moduleDenied ? 0u : 1u;
            if (reply.allow != expected) ++mismatches;
        }
    }
    const DWORD after = LiveHandles();
    EXPECT_EQ(mismatches, 0);
    EXPECT_LE(after, before + 4) << before << " handles before, " << after << " after";
    answering = false;
    answerer.join();
    service.Close();
    EXPECT_TRUE(link.Ended(5000));
}
