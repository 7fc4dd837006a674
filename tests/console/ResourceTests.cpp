#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "ui/UiTestSupport.h"
#include "DialogTemplateReader.h"
#include "ui/AppInstance.h"
#include "ui/ModelessDialog.h"

using namespace quenvar;
using namespace quenvar::testing;

// The expected values are written out here from the window descriptions, not
// taken from ResourceIds.h, so that a wrong id there fails as well.
namespace {

struct ExpectedItem {
    int id;
    const wchar_t* className;
    const wchar_t* title;
    int x, y, cx, cy;
    DWORD style;
};

struct ExpectedDialog {
    int id;
    const wchar_t* title;
    int cx, cy;
    DWORD style;
    DWORD exStyle;
    std::vector<ExpectedItem> items;
};

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kPushButton = kChild | BS_PUSHBUTTON | WS_TABSTOP;
constexpr DWORD kRichView = kChild | ES_MULTILINE | ES_READONLY | WS_VSCROLL;

const std::vector<ExpectedDialog>& Dialogs() {
    static const std::vector<ExpectedDialog> dialogs = {
        {103, L"Quenvar Lockmere 1.0.7", 387, 225,
         WS_POPUP | WS_CLIPSIBLINGS | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT | DS_FIXEDSYS,
         WS_EX_TOPMOST,
         {
             {1, L"Button", L"Okay", 155, 201, 77, 17, kPushButton},
             {1029, L"SysTabControl32", L"", 7, 7, 373, 183, kChild},
         }},
        {104, L"Quenvar Lockmere", 285, 177,
         WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_CENTER | DS_SETFONT | DS_FIXEDSYS, WS_EX_TOPMOST,
         {
             {1008, L"RichEdit20A", L"", 7, 7, 271, 138, kRichView},
             {6, L"Button", L"Allow Access", 14, 152, 77, 17, kPushButton},
             {7, L"Button", L"Deny Access", 104, 152, 77, 17, kPushButton},
             {1011, L"Button", L"More Information", 194, 152, 77, 17, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP},
         }},
        {111, L"Quenvar Lockmere", 322, 289,
         WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT | DS_FIXEDSYS, WS_EX_TOPMOST,
         {
             {1019, L"Button", L"Program Details", 7, 7, 308, 116, kChild | BS_GROUPBOX},
             {1015, L"Static", L"Item Name:", 16, 19, 39, 8, kChild | SS_LEFT},
             {1016, L"Static", L"Value:", 110, 19, 21, 8, kChild | SS_LEFT},
             {1017, L"ListBox", L"", 13, 30, 90, 83, kChild | LBS_NOTIFY | WS_BORDER | WS_VSCROLL},
             {1009, L"RichEdit20A", L"", 107, 30, 208, 83, kRichView},
             {1013, L"RichEdit20A", L"", 7, 127, 308, 133, kRichView},
             {1, L"Button", L"Done", 122, 265, 77, 17, kPushButton},
         }},
        {142, L"", 373, 174, WS_CHILD | WS_SYSMENU | DS_SETFONT | DS_FIXEDSYS, 0,
         {
             {1017, L"SysListView32", L"", 2, 2, 365, 141,
              kChild | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_ALIGNLEFT | LVS_NOSORTHEADER},
             {1031, L"Button", L"Clear Log", 290, 146, 77, 17, kPushButton | WS_DISABLED},
         }},
        {143, L"", 372, 172, WS_CHILD | WS_SYSMENU | DS_SETFONT | DS_FIXEDSYS, 0,
         {
             {1017, L"SysListView32", L"", 2, 2, 365, 72,
              kChild | WS_DISABLED | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
                  LVS_ALIGNLEFT | LVS_NOSORTHEADER},
             {-1, L"Static", L"Program Details:", 3, 78, 54, 8, kChild | SS_LEFT | WS_GROUP},
             {1031, L"Button", L"Forget File", 305, 89, 61, 17, kPushButton | WS_DISABLED},
             {1032, L"SysListView32", L"", 2, 89, 297, 72,
              kChild | WS_DISABLED | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_ALIGNLEFT |
                  LVS_NOSORTHEADER},
             {1033, L"Button", L"Destroy File", 305, 112, 61, 17, kPushButton | WS_DISABLED},
         }},
    };
    return dialogs;
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

class ResourceTest : public ::testing::Test {
protected:
    void SetUp() override { PrepareWindows(); }
};

}  // namespace

TEST_F(ResourceTest, DialogTemplatesMatchTheirDescriptions) {
    for (const ExpectedDialog& expected : Dialogs()) {
        SCOPED_TRACE("template " + std::to_string(expected.id));
        DialogTemplate dialog;
        ASSERT_TRUE(LoadDialogTemplate(appInstance, expected.id, &dialog));
        EXPECT_EQ(Narrow(dialog.title), Narrow(expected.title));
        EXPECT_EQ(dialog.style, expected.style) << std::hex << (dialog.style ^ expected.style);
        EXPECT_EQ(dialog.exStyle, expected.exStyle);
        EXPECT_EQ(dialog.style & WS_VISIBLE, 0u);  // every window starts hidden
        EXPECT_EQ(dialog.x, 0);
        EXPECT_EQ(dialog.y, 0);
        EXPECT_EQ(dialog.cx, expected.cx);
        EXPECT_EQ(dialog.cy, expected.cy);
        EXPECT_EQ(dialog.menu, L"");
        EXPECT_EQ(dialog.className, L"");
        ASSERT_TRUE(dialog.hasFont);
        EXPECT_EQ(dialog.pointSize, 8);
        EXPECT_EQ(Narrow(dialog.typeface), "MS Shell Dlg");
        EXPECT_FALSE(dialog.italic);

        ASSERT_EQ(dialog.items.size(), expected.items.size());
        for (size_t i = 0; i < expected.items.size(); ++i) {
            const ExpectedItem& want = expected.items[i];
            const DialogItem& item = dialog.items[i];
            SCOPED_TRACE("control " + std::to_string(want.id) + " " + Narrow(want.title));
            EXPECT_EQ(item.id, want.id);
            EXPECT_EQ(CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, item.className.c_str(), -1, want.className, -1),
                      CSTR_EQUAL)
                << Narrow(item.className);
            EXPECT_EQ(Narrow(item.title), Narrow(want.title));
            EXPECT_EQ(item.x, want.x);
            EXPECT_EQ(item.y, want.y);
            EXPECT_EQ(item.cx, want.cx);
            EXPECT_EQ(item.cy, want.cy);
            EXPECT_EQ(item.style, want.style) << std::hex << "differing bits " << (item.style ^ want.style);
            EXPECT_EQ(item.exStyle, 0u);
        }
    }
}

TEST_F(ResourceTest, TemplateReaderRejectsTruncatedData) {
    HRSRC found = FindResourceW(appInstance, MAKEINTRESOURCEW(142), RT_DIALOG);
    ASSERT_NE(found, nullptr);
    const void* data = LockResource(LoadResource(appInstance, found));
    const DWORD size = SizeofResource(appInstance, found);
    DialogTemplate dialog;
    EXPECT_TRUE(ParseDialogTemplate(data, size, &dialog));
    EXPECT_FALSE(ParseDialogTemplate(data, size - 8, &dialog));
    EXPECT_FALSE(ParseDialogTemplate(data, 10, &dialog));
}

TEST_F(ResourceTest, EveryTemplateBuildsAHiddenWindowWithItsControls) {
    HostWindow host;
    for (const ExpectedDialog& expected : Dialogs()) {
        SCOPED_TRACE("template " + std::to_string(expected.id));
        const bool page = (expected.style & WS_CHILD) != 0;
        ModelessDialog dialog(expected.id, page ? host.tab() : nullptr);
        ASSERT_NE(dialog.window, nullptr);
        EXPECT_FALSE(dialog.IsVisible());
        for (const ExpectedItem& item : expected.items) {
            if (item.id == -1) continue;
            HWND control = dialog.GetItem(item.id);
            ASSERT_NE(control, nullptr) << item.id;
            wchar_t className[64] = {};
            GetClassNameW(control, className, 64);
            EXPECT_EQ(CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, className, -1, item.className, -1), CSTR_EQUAL)
                << item.id << " " << Narrow(className);
            EXPECT_EQ(IsWindowEnabled(control) != FALSE, (item.style & WS_DISABLED) == 0) << item.id;
        }
    }
}

TEST_F(ResourceTest, StringTableHoldsTabNamesAndBreachPrefixes) {
    const struct {
        UINT id;
        const wchar_t* text;
    } strings[] = {
        {200, L"Log"},
        {201, L"Access Control"},
        {300, L"Blocked illegal screen access in"},
        {301, L"Blocked illegal keyboard hook in"},
        {302, L"Blocked foreign text access in"},
    };
    for (const auto& s : strings) {
        wchar_t text[64] = {};
        EXPECT_GT(LoadStringW(appInstance, s.id, text, 64), 0) << s.id;
        EXPECT_EQ(std::wstring(text), s.text) << s.id;
    }
}

TEST_F(ResourceTest, TrayIconHasSmallAndLargeImages) {
    HRSRC found = FindResourceW(appInstance, MAKEINTRESOURCEW(124), RT_GROUP_ICON);
    ASSERT_NE(found, nullptr);
    const BYTE* group = static_cast<const BYTE*>(LockResource(LoadResource(appInstance, found)));
    ASSERT_NE(group, nullptr);
    ASSERT_GE(SizeofResource(appInstance, found), 6u);
    // GRPICONDIR: reserved, type 1, count; then 14-byte entries starting with width, height.
    const WORD type = *reinterpret_cast<const WORD*>(group + 2);
    const WORD count = *reinterpret_cast<const WORD*>(group + 4);
    EXPECT_EQ(type, 1);
    ASSERT_EQ(SizeofResource(appInstance, found), 6u + 14u * count);
    std::vector<int> sizes;
    for (WORD i = 0; i < count; ++i) {
        EXPECT_EQ(group[6 + 14 * i], group[6 + 14 * i + 1]);
        sizes.push_back(group[6 + 14 * i]);
    }
    EXPECT_EQ(sizes, (std::vector<int>{16, 32}));

    for (int size : {16, 32}) {
        HICON icon = static_cast<HICON>(LoadImageW(appInstance, MAKEINTRESOURCEW(124), IMAGE_ICON, size, size, 0));
        ASSERT_NE(icon, nullptr) << size;
        ICONINFO info = {};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP bitmap = {};
        GetObjectW(info.hbmColor, sizeof(bitmap), &bitmap);
        EXPECT_EQ(bitmap.bmWidth, size);
        EXPECT_EQ(bitmap.bmHeight, size);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
    EXPECT_NE(LoadIconW(appInstance, MAKEINTRESOURCEW(124)), nullptr);
}
