#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "ClientTestSupport.h"
#include "client/AccessPrompt.h"
#include "client/ProgramDetailsDialog.h"
#include "client/ProgramInfo.h"
#include "ui/UiTestSupport.h"
#include "resources/ResourceIds.h"

using namespace quenvar;
using namespace quenvar::testing;

namespace {

class ProgramDetailsDialogTest : public ::testing::Test {
protected:
    void SetUp() override { PrepareWindows(); }

    // Clicks list item `index` with the mouse, as the user selects it.
    static void ClickItem(HWND list, int index) {
        RECT item = {};
        SendMessageW(list, LB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&item));
        const LPARAM point = MAKELPARAM(item.left + 5, (item.top + item.bottom) / 2);
        SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, point);
        SendMessageW(list, WM_LBUTTONUP, 0, point);
        PumpFor(30);
    }

    static std::wstring ItemText(HWND list, int index) {
        wchar_t text[64] = {};
        SendMessageW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text));
        return text;
    }
};

}  // namespace

TEST_F(ProgramDetailsDialogTest, ListsTheEightItemsWithTheFirstSelected) {
    const std::wstring path = FixturePath(L"QuenvarFixtureFull.dll");
    AccessPrompt prompt(kScreenAccess, path);
    ProgramDetailsDialog& details = *prompt.details;
    HWND list = details.GetItem(IDC_LIST);
    const wchar_t* names[] = {L"File Name",    L"File Description", L"File Comments", L"File Version",
                              L"Company Name", L"Copyright",        L"Product Name",  L"Product Version"};
    ASSERT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 8);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(ItemText(list, i), names[i]);
    EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(RichText(details.GetItem(IDC_DETAILS_VALUE)), path);
    EXPECT_EQ(GetWindowLongPtrW(details.window, GWL_EXSTYLE) & WS_EX_TOPMOST, WS_EX_TOPMOST);
}

TEST_F(ProgramDetailsDialogTest, SelectingEachItemShowsItsValue) {
    const std::wstring path = FixturePath(L"QuenvarFixtureFull.dll");
    AccessPrompt prompt(kScreenAccess, path);
    prompt.Show();
    Click(prompt.GetItem(IDC_MORE_INFORMATION));
    ProgramDetailsDialog& details = *prompt.details;
    ASSERT_TRUE(details.IsVisible());
    HWND list = details.GetItem(IDC_LIST);
    HWND value = details.GetItem(IDC_DETAILS_VALUE);

    const ProgramInfo info(path);
    const std::wstring expected[] = {
        path,
        L"Snoop Screen Grabber",
        L"Saves 100% of {\\rtf1 frames} to C:\\Snoop\\%progpath%\\out",
        L"2.5.0.17",
        info.companyName,
        L"\x00a9 2004 Soci\x00e9t\x00e9 Snoop",
        L"Snoop \xd55c\xae00 Edition",
        L"2.5",
    };
    ASSERT_EQ(info.companyName, L"\x041e\x041e\x041e \x0428\x043f\x0438\x043e\x043d-\x0421\x043e\x0444\x0442");
    // From the last item back to the first, so that every click is a change.
    for (int i = 7; i >= 0; --i) {
        ClickItem(list, i);
        EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), i);
        EXPECT_EQ(RichText(value), expected[i]) << "item " << i;
    }
}

TEST_F(ProgramDetailsDialogTest, AProgramWithoutVersionShowsItsFileNameAndNotAvailable) {
    const std::wstring path = FixturePath(L"QuenvarFixtureNone.dll");
    AccessPrompt prompt(kScreenAccess, path);
    ProgramDetailsDialog& details = *prompt.details;
    HWND list = details.GetItem(IDC_LIST);
    for (int i = 0; i < 8; ++i) {
        SendMessageW(list, LB_SETCURSEL, i, 0);
        details.ShowSelectedValue();
        const std::wstring shown = RichText(details.GetItem(IDC_DETAILS_VALUE));
        if (i == 0)
            EXPECT_EQ(shown, path);
        else if (i == 1)
            EXPECT_EQ(shown, L"QuenvarFixtureNone.dll");
        else
            EXPECT_EQ(shown, L"N/A") << "item " << i;
    }
}

TEST_F(ProgramDetailsDialogTest, WithoutSelectionTheValueStays) {
    const std::wstring path = FixturePath(L"QuenvarFixtureFull.dll");
    AccessPrompt prompt(kScreenAccess, path);
    ProgramDetailsDialog& details = *prompt.details;
    SendMessageW(details.GetItem(IDC_LIST), LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    details.ShowSelectedValue();
    SendMessageW(details.window, WM_COMMAND, MAKEWPARAM(IDC_LIST, LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(details.GetItem(IDC_LIST)));
    EXPECT_EQ(RichText(details.GetItem(IDC_DETAILS_VALUE)), path);
}

TEST_F(ProgramDetailsDialogTest, TheGroupCaptionIsBlueAndOtherStaticsKeepTheirColours) {
    const std::wstring path = FixturePath(L"QuenvarFixtureFull.dll");
    AccessPrompt prompt(kScreenAccess, path);
    ProgramDetailsDialog& details = *prompt.details;
    HDC dc = CreateCompatibleDC(nullptr);
    ASSERT_NE(dc, nullptr);
    SetTextColor(dc, RGB(1, 2, 3));
    SetBkMode(dc, OPAQUE);

    // Not handled for the other statics: the dialog manager's defaults apply.
    EXPECT_EQ(details.HandleMessage(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                    reinterpret_cast<LPARAM>(details.GetItem(IDC_DETAILS_ITEM_LABEL))),
              FALSE);
    EXPECT_EQ(GetTextColor(dc), RGB(1, 2, 3));
    EXPECT_EQ(GetBkMode(dc), OPAQUE);

    const LRESULT group = SendMessageW(details.window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                       reinterpret_cast<LPARAM>(details.GetItem(IDC_DETAILS_GROUP)));
    EXPECT_EQ(reinterpret_cast<HBRUSH>(group), GetSysColorBrush(COLOR_BTNFACE));
    EXPECT_EQ(GetTextColor(dc), static_cast<COLORREF>(0x00FF0000));
    EXPECT_EQ(GetBkMode(dc), TRANSPARENT);
    DeleteDC(dc);
}

TEST_F(ProgramDetailsDialogTest, TheMoreInformationPaneHoldsTheKindsText) {
    const std::wstring path = FixturePath(L"QuenvarFixtureBlank.dll");
    AccessPrompt prompt(kScreenAccess, path);
    ProgramDetailsDialog direct(&prompt, kKeyboardHookMoreInfoText);
    EXPECT_EQ(Paragraphs(RichText(direct.GetItem(IDC_DETAILS_MORE_TEXT))).size(), 19u);
    EXPECT_EQ(Paragraphs(RichText(prompt.details->GetItem(IDC_DETAILS_MORE_TEXT))).size(), 15u);
    ProgramDetailsDialog none(&prompt, 0);
    EXPECT_EQ(RichText(none.GetItem(IDC_DETAILS_MORE_TEXT)), L"");
    EXPECT_EQ(RichText(none.GetItem(IDC_DETAILS_VALUE)), path);
}
