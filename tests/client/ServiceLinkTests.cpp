// The service link thread against this test program acting as the service: it
// creates the service's pipe itself, answers the hello and sends events.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ServiceOwnedPipe.h"
#include "ClientTestSupport.h"

#include "client/EventJudge.h"
#include "client/LogSink.h"
#include "client/PathField.h"
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
using namespace quenvar::testing;

namespace {

constexpr const wchar_t* kErrorTitle = L"Initialization Error, Protection Disabled";

// Presses one of the prompt's answer buttons as the mouse would.
void ClickAnswer(HWND prompt, int buttonId) {
    PostMessageW(prompt, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(prompt, buttonId)));
}

// The service's end of one connection.
class FakeService {
public:
    FakeService()
        : pipe_(CreateNamedPipeW(kPipeName, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_BYTE | PIPE_WAIT, 1,
                                 1024, 1024, 0, owner_.attributes())) {}
    // A client may have come, written and gone before the wait began
    // (ERROR_NO_DATA); what it wrote is still there to read.
    bool Accept() {
        return ConnectNamedPipe(pipe_.get(), nullptr) || GetLastError() == ERROR_PIPE_CONNECTED ||
               GetLastError() == ERROR_NO_DATA;
    }
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
    // Sends an event that must bring up a prompt; the prompt once shown, or
    // null after 10 seconds.
    HWND Prompted(const AccessEvent& event) {
        Write(&event, sizeof(event));
        for (const DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(20)) {
            HWND prompt = FindWindowW(L"#32770", L"Quenvar Lockmere");
            if (prompt != nullptr && IsWindowVisible(prompt)) return prompt;
        }
        return nullptr;
    }
    // Presses one of the prompt's answers; the reply that follows.
    AccessReply Answer(HWND prompt, int buttonId) {
        ClickAnswer(prompt, buttonId);
        AccessReply reply = {0xFFFFFFFF, 0xFFFFFFFF};
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
    HANDLE handle() const { return pipe_.get(); }

private:
    ServiceOwner owner_;
    UniqueHandle pipe_;
};

// Runs ServiceLinkThread, which never ends by itself; the test stops it
// between connections.
class LinkThread {
public:
    LinkThread()
        : stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          thread_(CreateThread(nullptr, 0x7FFF, ServiceLinkThread, stop_.get(), 0, &id_)) {}
    ~LinkThread() { Stop(5000); }
    // True when the thread ended by itself within timeoutMs.
    bool Ended(DWORD timeoutMs) { return WaitForSingleObject(thread_.get(), timeoutMs) == WAIT_OBJECT_0; }
    bool Stop(DWORD timeoutMs) {
        SetEvent(stop_.get());
        return Ended(timeoutMs);
    }
    DWORD id() const { return id_; }

private:
    UniqueHandle stop_;
    DWORD id_ = 0;
    UniqueHandle thread_;
};

// The service's end with a link thread connected and its hello answered; at
// the end the pipe is closed, and the link, trying again, is stopped.
struct ServedLink : FakeService {
    explicit ServedLink(uint32_t status = ExpectedDriverStatus) { EXPECT_EQ(Hello(status), GetCurrentProcessId()); }
    ~ServedLink() {
        Close();
        EXPECT_TRUE(link.Stop(5000));
    }
    LinkThread link;
};

const std::wstring kSuspendedLine =
    L"Protection suspended: the link to the protection service was lost.  Reconnecting...";
const std::wstring kBackLine = L"Protection resumed: the link to the protection service is back.";

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

AccessEvent Event(uint32_t id, uint32_t kind, const std::wstring& process, const std::wstring& module,
                  uint32_t processId = GetCurrentProcessId()) {
    AccessEvent event = {};
    event.eventId = id;
    event.breachKind = kind;
    event.processId = processId;
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
        PrepareWindows();
        loggedLines.clear();
        serviceLinkTiming = {50, 200, 10000, 60000, 2000, 2000};
        LoadKindTexts();
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

TEST_F(ServiceLinkTest, NoServiceWithinTheLimitShowsNoServiceAndTheLinkKeepsTrying) {
    const std::wstring allowed = TempProgram(L"quenvar-link-noservice.exe", 20);
    RememberRights(allowed, 0, 0x07);
    serviceLinkTiming.noServiceAfterMs = 100;
    MessageBoxRecorder boxes;  // their texts are compared with all the others in UserTexts
    LinkThread link;
    const DWORD start = GetTickCount();
    while (boxes.shown == 0 && GetTickCount() - start < 10000) Sleep(10);
    EXPECT_FALSE(link.Ended(300));
    EXPECT_EQ(boxes.Captions(nullptr), BoxCaptions{kErrorTitle});
    FakeService service;
    EXPECT_EQ(service.Hello(ExpectedDriverStatus), GetCurrentProcessId());
    EXPECT_EQ(service.Ask(Event(1, kScreenAccess, allowed, allowed)).allow, 1u);
}

// Cut off right after the status (another program holds the session), then
// served, then the link breaks: each change is said once.
TEST_F(ServiceLinkTest, ALinkThatEndsIsSuspendedOnceAndSaidToBeBackWhenServedAgain) {
    const std::wstring allowed = TempProgram(L"quenvar-link-back.exe", 19);
    RememberRights(allowed, 0, 0x07);
    LinkThread link;
    for (int refused = 0; refused < 3; ++refused) {
        FakeService service;
        EXPECT_EQ(service.Hello(ExpectedDriverStatus), GetCurrentProcessId());
    }
    EXPECT_EQ(loggedLines, std::vector<std::wstring>{kSuspendedLine});
    {
        FakeService service;
        EXPECT_EQ(service.Hello(ExpectedDriverStatus), GetCurrentProcessId());
        EXPECT_EQ(service.Ask(Event(1, kScreenAccess, allowed, allowed)).allow, 1u);
        EXPECT_EQ(loggedLines, (std::vector<std::wstring>{kSuspendedLine, kBackLine}));
    }
    EXPECT_TRUE(link.Stop(5000));
    EXPECT_EQ(loggedLines, (std::vector<std::wstring>{kSuspendedLine, kBackLine, kSuspendedLine}));
}

TEST_F(ServiceLinkTest, AnUnexpectedDriverStatusIsReportedAndEventsAreStillJudged) {
    const std::wstring allowed = TempProgram(L"quenvar-link-allowed.exe", 1);
    const std::wstring denied = TempProgram(L"quenvar-link-denied.exe", 2);
    RememberRights(allowed, 0, 0x07);
    RememberRights(denied, 0x07, 0);
    MessageBoxRecorder boxes;
    ServedLink service(0x1234);

    EXPECT_EQ(service.Ask(Event(1, kScreenAccess, allowed, allowed)).allow, 1u);
    const AccessReply reply = service.Ask(Event(2, kKeyboardHook, denied, denied));
    EXPECT_EQ(reply.eventId, 2u);
    EXPECT_EQ(reply.allow, 0u);
    // An allowed process whose module is denied is denied.
    EXPECT_EQ(service.Ask(Event(3, kForeignTextAccess, allowed, denied)).allow, 0u);
    EXPECT_EQ(boxes.Captions(nullptr), BoxCaptions{kErrorTitle});  // shown before the events were judged
}

TEST_F(ServiceLinkTest, AShortEventEndsTheLinkWithoutABox) {
    {
        ServedLink service;
        const uint8_t part[100] = {};
        ASSERT_TRUE(service.Write(part, sizeof(part)));
    }
    EXPECT_EQ(FindWindowW(L"#32770", kErrorTitle), nullptr);
    EXPECT_EQ(loggedLines, std::vector<std::wstring>{kSuspendedLine});
}

TEST_F(ServiceLinkTest, SendDisableGuardWritesTheCommandAndNothingElse) {
    EXPECT_FALSE(SendGuardCommand(DisableGuardCode));  // no service
    FakeService service;
    std::atomic<bool> sent{false}, returned{false};
    std::thread client([&] {
        sent = SendGuardCommand(DisableGuardCode);
        returned = true;
    });
    ASSERT_TRUE(service.Accept());
    EXPECT_EQ(service.Command(), DisableGuardCode);
    // It waits, sending nothing more, until the service has carried the
    // command out and closes.
    Sleep(300);
    EXPECT_FALSE(returned);
    DWORD more = 0;
    EXPECT_TRUE(PeekNamedPipe(service.handle(), nullptr, 0, nullptr, &more, nullptr));
    EXPECT_EQ(more, 0u);
    service.Disconnect();
    client.join();
    EXPECT_TRUE(sent);
}

TEST_F(ServiceLinkTest, ManyRememberedDecisionsLeaveNoHandlesBehind) {
    const std::wstring allowed = TempProgram(L"quenvar-link-steady.exe", 3);
    RememberRights(allowed, 0, 0x07);
    ServedLink service;
    EXPECT_EQ(service.Ask(Event(1, kScreenAccess, allowed, allowed)).allow, 1u);  // caches built
    const DWORD before = LiveHandles();
    ASSERT_GT(before, 0u);
    // A handle left behind by every event, or by every event of one kind, shows
    // as twenty or more: 60 events, 20 of each kind, are enough.
    for (uint32_t id = 2; id < 62; ++id) ASSERT_EQ(service.Ask(Event(id, id % 3, allowed, allowed)).allow, 1u);
    const DWORD after = LiveHandles();
    EXPECT_LE(after, before + 2) << before << " handles before, " << after << " after";
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
    DeleteStoredRecord(judged);

    ServedLink service;
    AccessEvent event = Event(1, kScreenAccess, L"", L"");
    std::copy(rootless.begin(), rootless.end(), event.processPath);
    std::copy(rootless.begin(), rootless.end(), event.modulePath);
    HWND prompt = service.Prompted(event);
    ASSERT_NE(prompt, nullptr);
    const std::wstring text = RichText(GetDlgItem(prompt, IDC_PROMPT_TEXT));
    EXPECT_NE(text.find(L"\"notepad.exexyz\""), std::wstring::npos) << text;
    EXPECT_NE(text.find(judged), std::wstring::npos) << text;
    EXPECT_EQ(service.Answer(prompt, IDC_ALLOW_ACCESS).allow, 1u);
    EXPECT_TRUE(StoredRecord(judged));
    EXPECT_FALSE(StoredRecord(cut));
    DeleteStoredRecord(judged);
}

// A real file whose long path is about 900 characters, named in its event by
// its short form. Its path in the prompt is too long for the text: cut in the
// middle, it keeps the drive and the file name; the answer is stored under the
// whole path.
TEST_F(ServiceLinkTest, APathTooLongForThePromptKeepsItsDriveAndFileName) {
    const std::wstring local = L"\\\\?\\";
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::vector<std::wstring> folders = {temp};
    for (wchar_t letter : {L'K', L'L', L'M', L'N'}) {
        folders.push_back(folders.back() + std::wstring(210, letter) + L"\\");
        CreateDirectoryW((local + folders.back()).c_str(), nullptr);
    }
    const std::wstring name = L"quenvar far away.exe";
    const std::wstring judged = folders.back() + name;
    ASSERT_TRUE(UniqueHandle(CreateFileW((local + judged).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                         nullptr)).valid());
    wchar_t shortForm[MAX_PATH] = {};
    ASSERT_NE(GetShortPathNameW((local + judged).c_str(), shortForm, MAX_PATH), 0u);
    ASSERT_EQ(std::wstring(shortForm, 4), local);
    ASSERT_GT(judged.size(), 880u);

    {
        ServedLink service;
        HWND prompt = service.Prompted(Event(1, kScreenAccess, shortForm + 4, shortForm + 4));
        ASSERT_NE(prompt, nullptr);
        const std::vector<std::wstring> text = Paragraphs(RichText(GetDlgItem(prompt, IDC_PROMPT_TEXT)));
        ASSERT_GE(text.size(), 4u);
        EXPECT_EQ(text[2], L"Program Name: \"" + name + L"\"");
        const std::wstring lead = L"Program Path\t: \"";
        ASSERT_EQ(text[3].substr(0, lead.size()), lead);
        ASSERT_EQ(text[3].back(), L'"');
        const std::wstring shown = text[3].substr(lead.size(), text[3].size() - lead.size() - 1);
        const size_t cut = shown.find(L"...");
        ASSERT_NE(cut, std::wstring::npos) << shown;
        // The drive and the file name whole, and whole runs of the path on
        // either side of the cut.
        const std::wstring head = shown.substr(0, cut), tail = shown.substr(cut + 3);
        ASSERT_LT(shown.size(), judged.size());
        ASSERT_GT(tail.size(), name.size());
        EXPECT_EQ(head.substr(0, 3), judged.substr(0, 3));
        EXPECT_EQ(judged.substr(0, head.size()), head);
        EXPECT_EQ(tail.substr(tail.size() - name.size() - 1), L"\\" + name);
        EXPECT_EQ(judged.substr(judged.size() - tail.size()), tail);
        // Most of what fits: 4,095 bytes of escapes.
        EXPECT_GT(RtfEscaped(shown).size(), 4000u);
        EXPECT_LE(RtfEscaped(shown).size(), 4095u);
        EXPECT_EQ(service.Answer(prompt, IDC_ALLOW_ACCESS).allow, 1u);
    }
    EXPECT_TRUE(StoredRecord(judged));
    DeleteStoredRecord(judged);
    DeleteFileW((local + judged).c_str());
    for (size_t i = folders.size() - 1; i > 0; --i) RemoveDirectoryW((local + folders[i]).c_str());
}

TEST_F(ServiceLinkTest, APromptThatCannotBeShownDeniesTheEventStoresNothingAndLogsOnce) {
    const std::wstring first = TempProgram(L"quenvar-link-noprompt1.exe", 11);
    const std::wstring second = TempProgram(L"quenvar-link-noprompt2.exe", 12);
    DeleteStoredRecord(first);
    DeleteStoredRecord(second);
    // A module without the prompt's dialog template: no prompt window can be made.
    SeamOverride<HINSTANCE> resources{appInstance, GetModuleHandleW(L"kernel32.dll")};
    ServedLink service;
    EXPECT_EQ(service.Ask(Event(1, kScreenAccess, first, first)).allow, 0u);
    EXPECT_EQ(service.Ask(Event(2, kKeyboardHook, second, second)).allow, 0u);
    EXPECT_EQ(service.Ask(Event(3, kScreenAccess, first, first)).allow, 0u);
    EXPECT_FALSE(StoredRecord(first));
    EXPECT_FALSE(StoredRecord(second));
    EXPECT_EQ(loggedLines.size(), 1u);
}

// Any process of the desktop can post the quit message to the prompt's thread.
TEST_F(ServiceLinkTest, AQuitMessageDeniesOnlyThatEventAndTheNextPromptStillAsks) {
    const std::wstring program = TempProgram(L"quenvar-link-quit.exe", 13);
    DeleteStoredRecord(program);
    ServedLink service;
    AccessEvent event = Event(1, kScreenAccess, program, program);
    ASSERT_NE(service.Prompted(event), nullptr);
    ASSERT_TRUE(PostThreadMessageW(service.link.id(), WM_QUIT, 0, 0));
    AccessReply reply = {};
    ASSERT_TRUE(service.Read(&reply, sizeof(reply)));
    EXPECT_EQ(reply.eventId, 1u);
    EXPECT_EQ(reply.allow, 0u);
    EXPECT_FALSE(StoredRecord(program));

    event.eventId = 2;
    HWND prompt = service.Prompted(event);
    ASSERT_NE(prompt, nullptr);
    Sleep(300);
    ASSERT_TRUE(IsWindow(prompt) && IsWindowVisible(prompt));  // it waits for the user
    reply = service.Answer(prompt, IDC_ALLOW_ACCESS);
    EXPECT_EQ(reply.eventId, 2u);
    EXPECT_EQ(reply.allow, 1u);
    EXPECT_TRUE(StoredRecord(program));
}

// Keys meant for another window: the prompt brought to the front and its
// title bar clicked, then Space and Enter pressed as the keyboard gives them.
TEST_F(ServiceLinkTest, KeysPressedAfterThePromptIsActivatedAnswerNothing) {
    const std::wstring program = TempProgram(L"quenvar-link-keys.exe", 20);
    DeleteStoredRecord(program);
    ServedLink service;
    HWND prompt = service.Prompted(Event(1, kScreenAccess, program, program));
    ASSERT_NE(prompt, nullptr);
    ASSERT_TRUE(ActivateAsAUser(prompt));
    PressKey(VK_SPACE);
    PressKey(VK_RETURN);
    Sleep(300);
    EXPECT_TRUE(IsWindowVisible(prompt));
    EXPECT_FALSE(StoredRecord(program));
    const AccessReply reply = service.Answer(prompt, IDC_DENY_ACCESS);  // the first reply is this answer's
    EXPECT_EQ(reply.eventId, 1u);
    EXPECT_EQ(reply.allow, 0u);
}

TEST_F(ServiceLinkTest, ARememberedDeniedProcessIsDeniedWhateverIsRememberedOfItsModule) {
    const std::wstring denied = TempProgram(L"quenvar-link-denied-host.exe", 14);
    const std::wstring unsettled = TempProgram(L"quenvar-link-unjudged.dll", 15);
    const std::wstring allowed = TempProgram(L"quenvar-link-allowed-plugin.dll", 16);
    RememberRights(denied, 0x07, 0);
    RememberRights(allowed, 0, 0x07);
    DeleteStoredRecord(unsettled);
    ServedLink service;
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
    EXPECT_FALSE(StoredRecord(unsettled));
}

// A program's rights are loaded once per process: a process whose cache holds
// them keeps its copy while another process loads a later record, and after
// that process's prompt stored an answer.
TEST_F(ServiceLinkTest, EachProcessIsJudgedByTheRightsItsOwnCacheLoaded) {
    const std::wstring program = TempProgram(L"quenvar-link-two-processes.exe", 19);
    RememberRights(program, 0x02, 0x01);
    ChildProcess child;
    ASSERT_TRUE(child.started);
    ServedLink service;
    EXPECT_EQ(service.Ask(Event(1, kScreenAccess, program, program, child.id())).allow, 1u);
    EXPECT_EQ(service.Ask(Event(2, kKeyboardHook, program, program, child.id())).allow, 0u);
    RememberRights(program, 0x01, 0);  // screen access denied, the keyboard unsettled
    EXPECT_EQ(service.Ask(Event(3, kScreenAccess, program, program)).allow, 0u);
    EXPECT_EQ(service.Ask(Event(4, kScreenAccess, program, program, child.id())).allow, 1u);
    HWND prompt = service.Prompted(Event(5, kKeyboardHook, program, program));
    ASSERT_NE(prompt, nullptr);
    EXPECT_EQ(service.Answer(prompt, IDC_ALLOW_ACCESS).allow, 1u);
    EXPECT_EQ(service.Ask(Event(6, kKeyboardHook, program, program, child.id())).allow, 0u);  // not asked again
    EXPECT_EQ(service.Ask(Event(7, kKeyboardHook, program, program)).allow, 1u);
    const std::wstring keyboard = L"Blocked illegal keyboard hook in '" + program + L"'";
    EXPECT_EQ(loggedLines,
              (std::vector<std::wstring>{keyboard, L"Blocked illegal screen access in '" + program + L"'", keyboard}));
}

// The program starts before the service: it keeps trying and, once the pipe
// is there, is served like any other.
TEST_F(ServiceLinkTest, AServiceThatAppearsOnlyAfterSeveralFailedAttemptsIsConnectedAndServed) {
    const std::wstring allowed = TempProgram(L"quenvar-link-late-allowed.exe", 17);
    const std::wstring denied = TempProgram(L"quenvar-link-late-denied.exe", 18);
    RememberRights(allowed, 0, 0x07);
    RememberRights(denied, 0x07, 0);
    serviceLinkTiming.firstPauseMs = serviceLinkTiming.longestPauseMs = 50;
    // Counted, not shown: no box while it is still within the limit.
    SeamOverride<MessageBoxFunction> boxes{showMessageBox, CountBox};
    boxesShown = 0;
    LinkThread link;
    // A dozen attempts have failed by now; it must still be trying.
    ASSERT_FALSE(link.Ended(600));
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
    EXPECT_TRUE(link.Stop(5000));
}

// The uninstall's command must get through while a program of the logon is
// being served on the one pipe instance.
TEST_F(ServiceLinkTest, SendDisableGuardWaitsWhileThePipeIsBusy) {
    FakeService service;
    UniqueHandle occupant(CreateFileW(kPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(service.Accept());  // the occupant holds the only instance
    std::atomic<bool> sent{false}, returned{false};
    std::thread client([&] {
        sent = SendGuardCommand(DisableGuardCode);
        returned = true;
        // A command that gave up must not leave the service waiting for ever.
        for (int attempt = 0; !sent && attempt < 100; ++attempt) {
            const UniqueHandle nudge(
                CreateFileW(kPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            if (nudge) break;
            Sleep(100);
        }
    });
    Sleep(300);
    EXPECT_FALSE(returned);  // still trying while the instance is busy
    occupant.reset();
    service.Disconnect();
    ASSERT_TRUE(service.Accept());
    EXPECT_EQ(service.Command(), DisableGuardCode);
    service.Disconnect();
    client.join();
    EXPECT_TRUE(sent);
}

// Random event records through the real link thread. Most name programs whose
// rights are remembered; some name unsettled or random paths, whose prompts an
// answerer thread clicks. Every event gets exactly one well-formed reply.
TEST_F(ServiceLinkTest, TenThousandRandomEventsEachGetOneWellFormedReply) {
    const std::wstring allowed = TempProgram(L"quenvar-fuzz-allowed.exe", 21);
    const std::wstring denied = TempProgram(L"quenvar-fuzz-denied.exe", 22);
    const std::wstring module = TempProgram(L"quenvar-fuzz-module.dll", 23);
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

    ServedLink service;
    EXPECT_EQ(service.Ask(Event(1, kScreenAccess, allowed, allowed)).allow, 1u);  // caches built
    const DWORD before = LiveHandles();

    std::mt19937 random(20261208);
    const std::wstring known[] = {allowed, denied, module};
    // Bits 8 and 31 are beyond the records: each program is asked about them
    // once. 0xFFFFFFE5 shifts by 5, which the records hold.
    const uint32_t largeKinds[] = {8, 31, 0xFFFFFFFF, 0xFFFFFFE5};
    int mismatches = 0;
    for (uint32_t id = 2; id < 10002; ++id) {
        AccessEvent event = {};
        event.eventId = id;
        const uint32_t roll = random() % 100;
        // Kinds 0 to 2 mostly, 3 to 7 often, larger ones sometimes.
        event.breachKind = roll < 60 ? random() % 3 : roll < 90 ? 3 + random() % 5 : largeKinds[random() % 4];
        event.processId = GetCurrentProcessId();
        event.threadId = static_cast<uint32_t>(random());
        const uint32_t pathRoll = random() % 1000;
        const std::wstring& process = known[random() % 3];
        const std::wstring& named = pathRoll < 500 ? process : known[random() % 3];
        StorePathField(event.processPath, process);
        StorePathField(event.modulePath, named);
        // A few random paths: each is a new program, and so a prompt.
        if (pathRoll < 1) {
            // Random units, unterminated. Latin and Cyrillic only: Wine's
            // gdi32 faults (a read inside gdi32.dll) while the prompt draws
            // some other units, which says nothing about this program.
            for (wchar_t& unit : event.modulePath) {
                const uint32_t pick = random() % (0x230 + 0x100);
                unit = static_cast<wchar_t>(pick < 0x230 ? 0x20 + pick : 0x400 + (pick - 0x230));
            }
        } else if (pathRoll < 2) {
            for (wchar_t& unit : event.processPath) unit = static_cast<wchar_t>(L'a' + random() % 26);
        }
        AccessReply reply = {0xFFFFFFFF, 0xFFFFFFFF};
        ASSERT_TRUE(service.Write(&event, sizeof(event))) << id;
        ASSERT_TRUE(service.Read(&reply, sizeof(reply))) << id;
        ASSERT_EQ(reply.eventId, id);
        ASSERT_LE(reply.allow, 1u);
        // Remembered programs with a kind the records hold answer from memory.
        if (pathRoll >= 2 && (event.breachKind < 8 || event.breachKind == 0xFFFFFFE5)) {
            const uint32_t expected = process == denied || named == denied ? 0u : 1u;
            if (reply.allow != expected) ++mismatches;
        }
    }
    const DWORD after = LiveHandles();
    EXPECT_EQ(mismatches, 0);
    EXPECT_LE(after, before + 4) << before << " handles before, " << after << " after";
    answering = false;
    answerer.join();
}
