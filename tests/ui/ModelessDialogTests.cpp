#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ui/UiTestSupport.h"
#include "ui/DialogRegistry.h"
#include "ui/ModelessDialog.h"
#include "resources/ResourceIds.h"

using namespace quenvar;
using namespace quenvar::testing;

namespace {

constexpr UINT kProbeMessage = WM_APP + 7;
constexpr INT_PTR kProbeAnswer = 42;

// Records what reaches the object and answers kProbeMessage.
class ProbeDialog : public ModelessDialog {
public:
    ProbeDialog(int templateId = kMainWindowTemplate, HWND parent = nullptr) : ModelessDialog(templateId, parent) {}

    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        messages.push_back(message);
        if (message == kProbeMessage) return kProbeAnswer;
        return ModelessDialog::HandleMessage(message, wParam, lParam);
    }
    void OnCommand(int controlId, HWND controlWindow) override {
        commands.push_back(controlId);
        commandWindows.push_back(controlWindow);
        ModelessDialog::OnCommand(controlId, controlWindow);
    }

    std::vector<UINT> messages;
    std::vector<int> commands;
    std::vector<HWND> commandWindows;
};

class ModelessDialogTest : public ::testing::Test {
protected:
    void SetUp() override { PrepareWindows(); }
};

}  // namespace

TEST_F(ModelessDialogTest, ConstructionRegistersAHiddenOpenWindow) {
    const size_t before = DialogRegistry::Count();
    ProbeDialog dialog;
    ASSERT_NE(dialog.window, nullptr);
    EXPECT_TRUE(dialog.isOpen);
    EXPECT_EQ(DialogRegistry::Find(dialog.window), &dialog);
    EXPECT_EQ(DialogRegistry::Count(), before + 1);
    EXPECT_FALSE(dialog.IsVisible());
    // Registered only after creation: nothing sent while the window was built
    // (WM_INITDIALOG among it) reached the object.
    EXPECT_TRUE(dialog.messages.empty());
}

TEST_F(ModelessDialogTest, RoutingReachesOnlyTheRegisteredObject) {
    ProbeDialog first;
    ProbeDialog second;
    ASSERT_NE(first.window, nullptr);
    ASSERT_NE(second.window, nullptr);

    EXPECT_EQ(ModelessDialogProc(first.window, kProbeMessage, 0, 0), kProbeAnswer);
    EXPECT_EQ(first.messages, std::vector<UINT>{kProbeMessage});
    EXPECT_TRUE(second.messages.empty());

    // A window that was never a ModelessDialog.
    HWND plain = CreateWindowW(L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(ModelessDialogProc(plain, kProbeMessage, 0, 0), FALSE);
    EXPECT_EQ(ModelessDialogProc(plain, WM_CLOSE, 0, 0), FALSE);
    DestroyWindow(plain);

    // A window that is no longer registered.
    HWND old = first.window;
    first.Destroy();
    EXPECT_EQ(first.window, nullptr);
    EXPECT_FALSE(first.isOpen);
    first.messages.clear();
    EXPECT_EQ(ModelessDialogProc(old, kProbeMessage, 0, 0), FALSE);
    EXPECT_EQ(ModelessDialogProc(old, WM_COMMAND, MAKEWPARAM(1, BN_CLICKED), 0), FALSE);

    EXPECT_TRUE(first.messages.empty());
    EXPECT_TRUE(first.commands.empty());
    EXPECT_TRUE(second.messages.empty());
    EXPECT_TRUE(second.isOpen);
}

TEST_F(ModelessDialogTest, ButtonClickReachesOnCommandAndTheDefaultClosesTheDialog) {
    ProbeDialog dialog;
    ASSERT_NE(dialog.window, nullptr);
    HWND window = dialog.window;
    HWND okay = dialog.GetItem(IDC_OKAY);
    ASSERT_NE(okay, nullptr);
    dialog.Show();

    SendMessageW(okay, BM_CLICK, 0, 0);

    EXPECT_EQ(dialog.commands, std::vector<int>{IDC_OKAY});
    EXPECT_EQ(dialog.commandWindows, std::vector<HWND>{okay});
    EXPECT_EQ(dialog.window, nullptr);
    EXPECT_FALSE(dialog.isOpen);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(DialogRegistry::Find(window), nullptr);
}

TEST_F(ModelessDialogTest, CommandsWithANotificationCodeDoNotReachOnCommand) {
    ProbeDialog dialog;
    ASSERT_NE(dialog.window, nullptr);
    HWND okay = dialog.GetItem(IDC_OKAY);
    EXPECT_EQ(SendMessageW(dialog.window, WM_COMMAND, MAKEWPARAM(IDC_OKAY, BN_SETFOCUS), reinterpret_cast<LPARAM>(okay)),
              FALSE);
    EXPECT_EQ(SendMessageW(dialog.window, WM_COMMAND, MAKEWPARAM(IDC_OKAY, 1), 0), FALSE);
    EXPECT_TRUE(dialog.commands.empty());
    EXPECT_TRUE(dialog.isOpen);
    EXPECT_NE(dialog.window, nullptr);
}

TEST_F(ModelessDialogTest, CloseMessageDestroysByDefault) {
    ProbeDialog dialog;
    ASSERT_NE(dialog.window, nullptr);
    HWND window = dialog.window;
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(dialog.window, nullptr);
    EXPECT_FALSE(dialog.isOpen);
}

TEST_F(ModelessDialogTest, MoveToKeepsTheSize) {
    ProbeDialog dialog;
    ASSERT_NE(dialog.window, nullptr);
    RECT before = {};
    GetWindowRect(dialog.window, &before);
    ASSERT_GT(before.right - before.left, 0);
    ASSERT_GT(before.bottom - before.top, 0);

    dialog.MoveTo(37, 53);

    RECT after = {};
    GetWindowRect(dialog.window, &after);
    EXPECT_EQ(after.left, 37);
    EXPECT_EQ(after.top, 53);
    EXPECT_EQ(after.right - after.left, before.right - before.left);
    EXPECT_EQ(after.bottom - after.top, before.bottom - before.top);
}

TEST_F(ModelessDialogTest, ShowHideEnableDisableAndGetItem) {
    ProbeDialog dialog;
    ASSERT_NE(dialog.window, nullptr);
    dialog.Show();
    EXPECT_TRUE(dialog.IsVisible());
    dialog.Hide();
    EXPECT_FALSE(dialog.IsVisible());
    dialog.Disable();
    EXPECT_FALSE(IsWindowEnabled(dialog.window));
    dialog.Enable();
    EXPECT_TRUE(IsWindowEnabled(dialog.window));
    EXPECT_EQ(GetDlgCtrlID(dialog.GetItem(IDC_TAB_CONTROL)), IDC_TAB_CONTROL);
    EXPECT_EQ(dialog.GetItem(4711), nullptr);
}

TEST_F(ModelessDialogTest, DeletingTheObjectDestroysItsWindowAndEntry) {
    const size_t before = DialogRegistry::Count();
    auto* dialog = new ProbeDialog;
    HWND window = dialog->window;
    ASSERT_NE(window, nullptr);
    delete dialog;
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(DialogRegistry::Find(window), nullptr);
    EXPECT_EQ(DialogRegistry::Count(), before);
}

TEST_F(ModelessDialogTest, MissingTemplateLeavesAClosedDialogThatNobodyWaitsFor) {
    const size_t before = DialogRegistry::Count();
    ModelessDialog dialog(4999, nullptr);
    EXPECT_EQ(dialog.window, nullptr);
    EXPECT_FALSE(dialog.isOpen);
    EXPECT_EQ(DialogRegistry::Count(), before);
    EXPECT_EQ(dialog.GetItem(IDC_OKAY), nullptr);
    dialog.Show();
    dialog.Hide();
    dialog.Destroy();
    EXPECT_FALSE(dialog.IsVisible());

    // The waiting pattern must end at once; run it where a hang cannot stall the suite.
    std::atomic<bool> ended{false};
    std::atomic<DWORD> waiterId{0};
    std::thread waiter([&] {
        waiterId = GetCurrentThreadId();
        dialog.PumpWhileOpen();
        ended = true;
    });
    const DWORD start = GetTickCount();
    while (!ended && GetTickCount() - start < 5000) Sleep(10);
    EXPECT_TRUE(ended);
    if (!ended) PostThreadMessageW(waiterId, WM_QUIT, 0, 0);
    waiter.join();
}

TEST_F(ModelessDialogTest, WaitingEndsWhenAButtonClosesTheDialog) {
    ProbeDialog dialog;
    ASSERT_NE(dialog.window, nullptr);
    dialog.Show();
    PostMessageW(dialog.window, WM_COMMAND, MAKEWPARAM(IDC_OKAY, BN_CLICKED),
                 reinterpret_cast<LPARAM>(dialog.GetItem(IDC_OKAY)));
    EXPECT_TRUE(dialog.PumpWhileOpen());
    EXPECT_FALSE(dialog.isOpen);
    EXPECT_EQ(dialog.commands, std::vector<int>{IDC_OKAY});
}

// Any process of the desktop can post the quit message. Posted again, it would
// end every later wait of the thread before its dialog was even painted.
TEST_F(ModelessDialogTest, WaitingStopsAtTheQuitMessageAndDoesNotPostItAgain) {
    ProbeDialog dialog;
    ASSERT_NE(dialog.window, nullptr);
    PostQuitMessage(7);
    EXPECT_FALSE(dialog.PumpWhileOpen());
    EXPECT_TRUE(dialog.isOpen);
    MSG message;
    EXPECT_FALSE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    // The next wait is the user's again.
    PostMessageW(dialog.window, WM_COMMAND, MAKEWPARAM(IDC_OKAY, BN_CLICKED), 0);
    EXPECT_TRUE(dialog.PumpWhileOpen());
    EXPECT_FALSE(dialog.isOpen);
}

// The main thread and the service link thread both own dialogs.
TEST_F(ModelessDialogTest, TwoThreadsCreateRouteAndDestroyDialogsAtOnce) {
    const size_t before = DialogRegistry::Count();
    std::atomic<int> failures{0};
    std::atomic<int> routed{0};
    auto work = [&] {
        for (int i = 0; i < 60; ++i) {
            ProbeDialog dialog;
            if (dialog.window == nullptr || DialogRegistry::Find(dialog.window) != &dialog) {
                ++failures;
                continue;
            }
            // A dialog procedure's result reaches SendMessageW only for a few
            // messages, so the routing result is read from the procedure itself.
            SendMessageW(dialog.window, kProbeMessage, 0, 0);
            if (dialog.messages != std::vector<UINT>{kProbeMessage} ||
                ModelessDialogProc(dialog.window, kProbeMessage, 0, 0) != kProbeAnswer)
                ++failures;
            else
                ++routed;
        }
    };
    std::thread other(work);
    work();
    other.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(routed, 120);
    EXPECT_EQ(DialogRegistry::Count(), before);
}
