// Thin wrapper of one report-style list-view control: every operation is one or
// a few SendMessageW calls, so it may be used from a thread other than the
// control's own (the call then waits until that thread has run it).
#pragma once

#include <windows.h>

#include <string>

namespace quenvar {

class ListViewControl {
public:
    // The control's extended style becomes exactly `extendedStyle`.
    ListViewControl(HWND control, DWORD extendedStyle);
    virtual ~ListViewControl();
    ListViewControl(const ListViewControl&) = delete;
    ListViewControl& operator=(const ListViewControl&) = delete;

    // Appends a column of width 0; AutoSizeColumns gives it its width.
    void InsertColumn(const wchar_t* title);
    // Appends a row made of `count` texts, each a `const wchar_t*`, one per
    // column from the first. Returns the new row's index, or -1 without
    // touching the control if `count` is 0 or less than the number of columns.
    int InsertRow(int count, ...);
    int GetItemCount();
    void EnsureVisible(int row);
    void DeleteRow(int row);
    // Each column as wide as the wider of its header and its longest text.
    void AutoSizeColumns();
    // AutoSizeColumns, then every column but the last at least as wide as its
    // title with the header's margins; the last still just fills the rest.
    void SizeColumnsToTitles();
    void DeleteAllRows();
    // The first selected row, -1 if none.
    int GetSelectedRow();
    void SetCellText(int row, int column, const wchar_t* text);
    void SetRowData(int row, LPARAM value);
    LPARAM GetRowData(int row);
    // The first row whose data is `value`, -1 if none.
    int FindRowByData(LPARAM value);
    // At most the first 1023 characters of the cell.
    std::wstring GetCellText(int row, int column);

    int columnCount;
    HWND control;
};

}  // namespace quenvar
