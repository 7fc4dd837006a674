#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <string>

#include "ui/UiTestSupport.h"
#include "ui/ListViewControl.h"
#include "resources/ResourceIds.h"

using namespace quenvar;
using namespace quenvar::testing;

namespace {

// The log page's list, wrapped on its own, with three columns.
class ListViewControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        page = std::make_unique<ModelessDialog>(kLogPageTemplate, host.tab());
        ASSERT_NE(page->window, nullptr);
        list = page->GetItem(IDC_LIST);
        ASSERT_NE(list, nullptr);
        view = std::make_unique<ListViewControl>(list, LVS_EX_FULLROWSELECT);
        view->InsertColumn(L"One");
        view->InsertColumn(L"Two");
        view->InsertColumn(L"Three");
    }

    // Read through the control directly, not through the wrapper under test.
    std::wstring Text(int row, int column) { return ListCellText(list, row, column); }
    int Rows() { return ListRowCount(list); }
    int ColumnWidth(int column) { return static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, column, 0)); }

    HostWindow host;
    std::unique_ptr<ModelessDialog> page;
    HWND list = nullptr;
    std::unique_ptr<ListViewControl> view;
};

}  // namespace

TEST_F(ListViewControlTest, ConstructionReplacesTheExtendedStyle) {
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES);
    ListViewControl again(list, LVS_EX_FULLROWSELECT | LVS_EX_ONECLICKACTIVATE);
    EXPECT_EQ(SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0), LVS_EX_FULLROWSELECT | LVS_EX_ONECLICKACTIVATE);
    EXPECT_EQ(again.columnCount, 0);
    EXPECT_EQ(again.control, list);
}

TEST_F(ListViewControlTest, ColumnsAreAppendedInOrderAndAutoSizedToTheirTexts) {
    EXPECT_EQ(view->columnCount, 3);
    const wchar_t* const titles[] = {L"One", L"Two", L"Three"};
    for (int column = 0; column < 3; ++column) {
        wchar_t title[64] = {};
        LVCOLUMNW info = {};
        info.mask = LVCF_TEXT;
        info.pszText = title;
        info.cchTextMax = 64;
        ASSERT_TRUE(SendMessageW(list, LVM_GETCOLUMNW, column, reinterpret_cast<LPARAM>(&info)));
        EXPECT_EQ(std::wstring(title), titles[column]);
    }
    view->InsertRow(3, L"a", L"a much longer text than its header", L"c");
    const int before = ColumnWidth(1);
    view->AutoSizeColumns();
    EXPECT_GT(ColumnWidth(0), 0);
    EXPECT_GT(ColumnWidth(2), 0);
    EXPECT_GT(ColumnWidth(1), before);
    EXPECT_GT(ColumnWidth(1), ColumnWidth(0));
}

TEST_F(ListViewControlTest, InsertRowNeedsATextForEveryColumn) {
    EXPECT_EQ(view->InsertRow(2, L"a", L"b"), -1);
    EXPECT_EQ(view->InsertRow(0), -1);
    EXPECT_EQ(Rows(), 0);

    EXPECT_EQ(view->InsertRow(3, L"a", L"b", L"c"), 0);
    EXPECT_EQ(view->InsertRow(3, L"d", L"e", L"f"), 1);
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(Text(0, 0), L"a");
    EXPECT_EQ(Text(0, 1), L"b");
    EXPECT_EQ(Text(0, 2), L"c");
    EXPECT_EQ(Text(1, 0), L"d");
    EXPECT_EQ(Text(1, 2), L"f");
    EXPECT_EQ(view->GetItemCount(), 2);
}

TEST_F(ListViewControlTest, CellTextIsWrittenAndReadPerCell) {
    ASSERT_EQ(view->InsertRow(3, L"a", L"b", L"c"), 0);
    view->SetCellText(0, 1, L"changed");
    EXPECT_EQ(Text(0, 1), L"changed");
    EXPECT_EQ(view->GetCellText(0, 1), L"changed");
    EXPECT_EQ(view->GetCellText(0, 2), L"c");
    EXPECT_EQ(view->GetCellText(5, 0), L"");
}

TEST_F(ListViewControlTest, GetCellTextYieldsAtMost1023Characters) {
    ASSERT_EQ(view->InsertRow(3, L"a", L"b", L"c"), 0);
    std::wstring longText;
    for (int i = 0; i < 1030; ++i) longText += static_cast<wchar_t>(L'a' + i % 26);
    view->SetCellText(0, 1, longText.c_str());
    ASSERT_EQ(Text(0, 1), longText);  // the control holds all of it
    EXPECT_EQ(view->GetCellText(0, 1), longText.substr(0, 1023));
}

TEST_F(ListViewControlTest, RowDataFindsRows) {
    view->InsertRow(3, L"a", L"b", L"c");
    view->InsertRow(3, L"d", L"e", L"f");
    view->SetRowData(0, 5);
    view->SetRowData(1, 7);
    EXPECT_EQ(view->GetRowData(0), 5);
    EXPECT_EQ(view->GetRowData(1), 7);
    EXPECT_EQ(view->FindRowByData(7), 1);
    EXPECT_EQ(view->FindRowByData(5), 0);
    EXPECT_EQ(view->FindRowByData(9), -1);
    // Setting the data leaves the text alone.
    EXPECT_EQ(Text(1, 0), L"d");
}

TEST_F(ListViewControlTest, SelectedRowIsMinusOneWithoutSelection) {
    view->InsertRow(3, L"a", L"b", L"c");
    view->InsertRow(3, L"d", L"e", L"f");
    EXPECT_EQ(view->GetSelectedRow(), -1);
    LVITEMW state = {};
    state.stateMask = LVIS_SELECTED;
    state.state = LVIS_SELECTED;
    SendMessageW(list, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&state));
    EXPECT_EQ(view->GetSelectedRow(), 1);
}

TEST_F(ListViewControlTest, DeleteRowAndDeleteAllRows) {
    view->InsertRow(3, L"a", L"b", L"c");
    view->InsertRow(3, L"d", L"e", L"f");
    view->InsertRow(3, L"g", L"h", L"i");
    view->DeleteRow(1);
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(Text(0, 0), L"a");
    EXPECT_EQ(Text(1, 0), L"g");
    view->DeleteAllRows();
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(view->GetItemCount(), 0);
}

TEST_F(ListViewControlTest, EnsureVisibleScrollsTheRowIntoView) {
    host.dialog.Show();
    ShowWindow(page->window, SW_SHOW);
    for (int i = 0; i < 80; ++i) view->InsertRow(3, L"row", L"x", L"y");
    ASSERT_EQ(SendMessageW(list, LVM_GETTOPINDEX, 0, 0), 0);
    view->EnsureVisible(79);
    const int top = static_cast<int>(SendMessageW(list, LVM_GETTOPINDEX, 0, 0));
    const int perPage = static_cast<int>(SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0));
    EXPECT_GT(top, 0);
    EXPECT_LE(79, top + perPage - 1);
}
