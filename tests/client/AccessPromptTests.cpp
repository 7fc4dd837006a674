#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "ClientTestSupport.h"
#include "client/AccessPrompt.h"
#include "client/ProgramDetailsDialog.h"
#include "client/RichTextView.h"
#include "ui/UiTestSupport.h"
#include "ui/DialogRegistry.h"
#include "resources/ResourceIds.h"

using namespace quenvar;
using namespace quenvar::testing;

namespace {

class AccessPromptTest : public ::testing::Test {
protected:
    void SetUp() override { PrepareWindows(); }

    static std::wstring Full() { return FixturePath(L"QuenvarFixtureFull.dll"); }
    static std::wstring Blank() { return FixturePath(L"QuenvarFixtureBlank.dll"); }

    // Every way of asking a window to close short of its answer buttons.
    static void TryToClose(HWND window) {
        // Keys as the keyboard gives them, to whatever has the focus.
        for (const WORD key : {VK_ESCAPE, VK_RETURN, VK_SPACE}) PressKey(key);
        SendMessageW(window, WM_CLOSE, 0, 0);
        PostMessageW(window, WM_CLOSE, 0, 0);
        // Alt+F4 as the keyboard delivers it, and the system command it becomes.
        constexpr LPARAM kAltDown = 1 << 29;
        PostMessageW(window, WM_SYSKEYDOWN, VK_F4, kAltDown | 1);
        PostMessageW(window, WM_SYSKEYUP, VK_F4, kAltDown | (1u << 30) | (1u << 31) | 1);
        SendMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        // Escape, and the cancel command a dialog manager would make of it.
        for (HWND target : {window, GetFocus()}) {
            if (target == nullptr) continue;
            PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, 1);
            PostMessageW(target, WM_CHAR, VK_ESCAPE, 1);
            PostMessageW(target, WM_KEYUP, VK_ESCAPE, (1u << 30) | (1u << 31) | 1);
        }
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        PumpFor(300);
    }
};

}  // namespace

TEST_F(AccessPromptTest, IsBuiltHiddenWithTheProgramInItsTextPane) {
    AccessPrompt prompt(kScreenAccess, Full());
    ASSERT_NE(prompt.window, nullptr);
    EXPECT_TRUE(prompt.isOpen);
    EXPECT_FALSE(prompt.allowed);
    EXPECT_FALSE(prompt.IsVisible());
    ASSERT_NE(prompt.details.get(), nullptr);
    ASSERT_NE(prompt.details->window, nullptr);
    EXPECT_FALSE(prompt.details->IsVisible());
    EXPECT_EQ(prompt.details->owner, &prompt);
    ASSERT_NE(prompt.text.get(), nullptr);
    EXPECT_EQ(prompt.text->control, prompt.GetItem(IDC_PROMPT_TEXT));
    EXPECT_EQ(GetWindowLongPtrW(prompt.window, GWL_EXSTYLE) & WS_EX_TOPMOST, WS_EX_TOPMOST);

    const std::vector<std::wstring> paragraphs = Paragraphs(RichText(prompt.GetItem(IDC_PROMPT_TEXT)));
    ASSERT_GE(paragraphs.size(), 4u);
    EXPECT_EQ(paragraphs[0], L"Unauthorized Screen Access");
    EXPECT_EQ(paragraphs[2], L"Program Name: \"Snoop Screen Grabber\"");
    EXPECT_EQ(paragraphs[3], L"Program Path\t: \"" + Full() + L"\"");

    const TemplateValues expected = {
        {"%progpath%", RtfEscaped(Full())},
        {"%progname%", RtfEscaped(L"Snoop Screen Grabber")},
        {"%progdescription%", RtfEscaped(L"Saves 100% of {\\rtf1 frames} to C:\\Snoop\\%progpath%\\out")},
        {"%progversion%", RtfEscaped(L"2.5.0.17")},
        {"%progcompany%", RtfEscaped(L"\x041e\x041e\x041e \x0428\x043f\x0438\x043e\x043d-\x0421\x043e\x0444\x0442")},
        {"%productname%", RtfEscaped(L"Snoop \xd55c\xae00 Edition")},
        {"%productversion%", RtfEscaped(L"2.5")},
        {"%productcopyright%", RtfEscaped(L"\x00a9 2004 Soci\x00e9t\x00e9 Snoop")},
    };
    EXPECT_EQ(prompt.values, expected);
}

TEST_F(AccessPromptTest, EachKindShowsItsOwnTexts) {
    const struct {
        uint32_t kind;
        const wchar_t* heading;
        const wchar_t* banner;
    } kinds[] = {
        {kScreenAccess, L"Unauthorized Screen Access", L"MODERATE PRIVACY RISK"},
        {kKeyboardHook, L"Unauthorized Keyboard Hook", L"EXTREME PRIVACY RISK"},
        {kForeignTextAccess, L"Unowned  Window Read", L"EXTREME PRIVACY RISK"},
    };
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.kind);
        AccessPrompt prompt(kind.kind, Full());
        const std::vector<std::wstring> text = Paragraphs(RichText(prompt.GetItem(IDC_PROMPT_TEXT)));
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text[0], kind.heading);
        const std::vector<std::wstring> more = Paragraphs(RichText(prompt.details->GetItem(IDC_DETAILS_MORE_TEXT)));
        ASSERT_GE(more.size(), 3u);
        EXPECT_EQ(more[0], kind.banner);
        EXPECT_EQ(more[2].find(L"Should I allow this program to "), 0u);
    }
}

TEST_F(AccessPromptTest, AnUnknownKindLeavesBothTextPanesEmpty) {
    AccessPrompt prompt(3, Full());
    ASSERT_NE(prompt.window, nullptr);
    EXPECT_EQ(RichText(prompt.GetItem(IDC_PROMPT_TEXT)), L"");
    EXPECT_EQ(RichText(prompt.details->GetItem(IDC_DETAILS_MORE_TEXT)), L"");
    // The program is still named in the details list.
    EXPECT_EQ(RichText(prompt.details->GetItem(IDC_DETAILS_VALUE)), Full());

    int promptText = -1, moreInfo = -1;
    EXPECT_FALSE(AccessTextsFor(0xFFFFFFFFu, &promptText, &moreInfo));
    EXPECT_EQ(promptText, 0);
    EXPECT_EQ(moreInfo, 0);
    EXPECT_TRUE(AccessTextsFor(2, &promptText, &moreInfo));
    EXPECT_EQ(promptText, 146);
    EXPECT_EQ(moreInfo, 147);
}

TEST_F(AccessPromptTest, APromptNamesTheProgramFileItIsGiven) {
    AccessPrompt module(kKeyboardHook, Blank());
    const std::wstring text = RichText(module.GetItem(IDC_PROMPT_TEXT));
    EXPECT_NE(text.find(L"Program Name: \"QuenvarFixtureBlank.dll\""), std::wstring::npos) << text.c_str();
    EXPECT_NE(text.find(L"\"" + Blank() + L"\""), std::wstring::npos);
    EXPECT_EQ(text.find(L"Snoop"), std::wstring::npos);

    AccessPrompt process(kKeyboardHook, Full());
    EXPECT_NE(RichText(process.GetItem(IDC_PROMPT_TEXT)).find(L"Program Name: \"Snoop Screen Grabber\""),
              std::wstring::npos);
}

// The judged path, not the record's cut copy of it, is what the user sees.
TEST_F(AccessPromptTest, APathLongerThanTheRecordFieldIsShownWhole) {
    const std::wstring path = L"C:\\" + std::wstring(300, L'p') + L"\\notepad.exeX.exe";
    AccessPrompt prompt(kScreenAccess, path);
    EXPECT_EQ(prompt.values["%progpath%"], RtfEscaped(path));
    EXPECT_EQ(prompt.values["%progname%"], RtfEscaped(L"notepad.exeX.exe"));
    EXPECT_EQ(Paragraphs(RichText(prompt.GetItem(IDC_PROMPT_TEXT)))[3], L"Program Path\t: \"" + path + L"\"");
}

TEST_F(AccessPromptTest, CloseAttemptsNeitherCloseNorAnswer) {
    AccessPrompt prompt(kScreenAccess, Full());
    prompt.Show();
    ASSERT_TRUE(ActivateAsAUser(prompt.window));
    ASSERT_TRUE(prompt.IsVisible());
    HWND window = prompt.window;

    TryToClose(window);

    EXPECT_TRUE(prompt.isOpen);
    EXPECT_EQ(prompt.window, window);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_TRUE(prompt.IsVisible());
    EXPECT_FALSE(prompt.allowed);
    // Space pressed the button the activation focused, "More Information".
    EXPECT_TRUE(prompt.details->IsVisible());

    // The same attempts do reach a window that closes: the details window
    // hides on them, so they were delivered.
    Click(prompt.GetItem(IDC_MORE_INFORMATION));
    ASSERT_TRUE(prompt.details->IsVisible());
    PostMessageW(prompt.details->window, WM_SYSKEYDOWN, VK_F4, (1 << 29) | 1);
    PumpFor(200);
    EXPECT_FALSE(prompt.details->IsVisible());
    EXPECT_TRUE(prompt.isOpen);
}

TEST_F(AccessPromptTest, MoreInformationShowsTheDetailsWindowAgainAfterItWasHidden) {
    AccessPrompt prompt(kKeyboardHook, Full());
    prompt.Show();
    PumpFor(50);
    ModelessDialog* details = prompt.details.get();
    HWND detailsWindow = details->window;

    Click(prompt.GetItem(IDC_MORE_INFORMATION));
    EXPECT_TRUE(details->IsVisible());

    // "Done" hides it; the prompt stays open and unanswered.
    Click(details->GetItem(IDC_DONE));
    EXPECT_FALSE(details->IsVisible());
    EXPECT_TRUE(prompt.isOpen);
    EXPECT_TRUE(prompt.IsVisible());

    Click(prompt.GetItem(IDC_MORE_INFORMATION));
    EXPECT_TRUE(details->IsVisible());
    EXPECT_EQ(prompt.details.get(), details);
    EXPECT_EQ(details->window, detailsWindow);

    // Its close box hides it as well.
    SendMessageW(detailsWindow, WM_SYSCOMMAND, SC_CLOSE, 0);
    PumpFor(50);
    EXPECT_FALSE(details->IsVisible());
    EXPECT_TRUE(IsWindow(detailsWindow));

    Click(prompt.GetItem(IDC_MORE_INFORMATION));
    EXPECT_TRUE(details->IsVisible());
    EXPECT_TRUE(prompt.isOpen);
    EXPECT_FALSE(prompt.allowed);
}

TEST_F(AccessPromptTest, AllowAnswersTrueAndClosesTheDetailsWindowToo) {
    const size_t before = DialogRegistry::Count();
    AccessPrompt prompt(kScreenAccess, Full());
    EXPECT_EQ(DialogRegistry::Count(), before + 2);
    prompt.Show();
    Click(prompt.GetItem(IDC_MORE_INFORMATION));
    ASSERT_TRUE(prompt.details->IsVisible());
    HWND promptWindow = prompt.window;
    HWND detailsWindow = prompt.details->window;

    // The caller's wait: the click arrives while it pumps.
    PostMessageW(prompt.GetItem(IDC_ALLOW_ACCESS), BM_CLICK, 0, 0);
    EXPECT_TRUE(prompt.PumpWhileOpen());

    EXPECT_FALSE(prompt.isOpen);
    EXPECT_TRUE(prompt.allowed);
    EXPECT_TRUE(prompt.answered);
    EXPECT_EQ(prompt.window, nullptr);
    EXPECT_FALSE(IsWindow(promptWindow));
    EXPECT_FALSE(IsWindow(detailsWindow));
    EXPECT_EQ(prompt.details->window, nullptr);
    EXPECT_FALSE(prompt.details->isOpen);
    EXPECT_EQ(DialogRegistry::Count(), before);
}

TEST_F(AccessPromptTest, DenyAnswersFalseAndClosesTheDetailsWindowToo) {
    AccessPrompt prompt(kForeignTextAccess, Full());
    prompt.Show();
    Click(prompt.GetItem(IDC_MORE_INFORMATION));
    HWND detailsWindow = prompt.details->window;
    ASSERT_TRUE(IsWindowVisible(detailsWindow));

    Click(prompt.GetItem(IDC_DENY_ACCESS));

    EXPECT_FALSE(prompt.isOpen);
    EXPECT_FALSE(prompt.allowed);
    EXPECT_TRUE(prompt.answered);
    EXPECT_FALSE(IsWindow(detailsWindow));
}

TEST_F(AccessPromptTest, OtherCommandsAndTheQuitMessageGiveNoAnswer) {
    AccessPrompt prompt(kScreenAccess, Full());
    prompt.Show();
    SendMessageW(prompt.window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    SendMessageW(prompt.window, WM_COMMAND, MAKEWPARAM(IDC_PROMPT_TEXT, 0), 0);
    EXPECT_TRUE(prompt.isOpen);

    PostQuitMessage(0);
    EXPECT_FALSE(prompt.PumpWhileOpen());
    EXPECT_FALSE(prompt.allowed);
    EXPECT_FALSE(prompt.answered);
    MSG quit;
    EXPECT_FALSE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

TEST_F(AccessPromptTest, DeletingAnOpenPromptDestroysBothWindows) {
    HWND promptWindow = nullptr;
    HWND detailsWindow = nullptr;
    const size_t before = DialogRegistry::Count();
    {
        AccessPrompt prompt(kScreenAccess, Full());
        prompt.Show();
        Click(prompt.GetItem(IDC_MORE_INFORMATION));
        promptWindow = prompt.window;
        detailsWindow = prompt.details->window;
    }
    EXPECT_FALSE(IsWindow(promptWindow));
    EXPECT_FALSE(IsWindow(detailsWindow));
    EXPECT_EQ(DialogRegistry::Count(), before);
}
