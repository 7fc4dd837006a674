#include "ui/ListViewControl.h"

#include <commctrl.h>

#include <cstdarg>
#include <cwchar>

namespace quenvar {

namespace {

constexpr int kCellTextCapacity = 1024;

}  // namespace

ListViewControl::ListViewControl(HWND control, DWORD extendedStyle) : columnCount(0), control(control) {
    // A mask of 0 means every bit, so the style is replaced, not merged.
    SendMessageW(control, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, static_cast<LPARAM>(extendedStyle));
}

ListViewControl::~ListViewControl() = default;

void ListViewControl::InsertColumn(const wchar_t* title) {
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT;
    column.pszText = const_cast<wchar_t*>(title);
    SendMessageW(control, LVM_INSERTCOLUMNW, static_cast<WPARAM>(columnCount), reinterpret_cast<LPARAM>(&column));
    columnCount += 1;
}

int ListViewControl::InsertRow(int count, ...) {
    if (count <= 0 || count < columnCount) return -1;
    va_list texts;
    va_start(texts, count);
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(SendMessageW(control, LVM_GETITEMCOUNT, 0, 0));
    item.iSubItem = 0;
    item.pszText = const_cast<wchar_t*>(va_arg(texts, const wchar_t*));
    const int row = static_cast<int>(SendMessageW(control, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    for (int column = 1; column < count; ++column) {
        const wchar_t* text = va_arg(texts, const wchar_t*);
        if (row < 0) continue;  // nothing to fill; the arguments are still consumed
        LVITEMW cell = {};
        cell.mask = LVIF_TEXT;
        cell.iItem = row;
        cell.iSubItem = column;
        cell.pszText = const_cast<wchar_t*>(text);
        SendMessageW(control, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&cell));
    }
    va_end(texts);
    return row;
}

int ListViewControl::GetItemCount() { return static_cast<int>(SendMessageW(control, LVM_GETITEMCOUNT, 0, 0)); }

void ListViewControl::EnsureVisible(int row) {
    SendMessageW(control, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
}

void ListViewControl::DeleteRow(int row) { SendMessageW(control, LVM_DELETEITEM, static_cast<WPARAM>(row), 0); }

void ListViewControl::AutoSizeColumns() {
    for (int column = 0; column < columnCount; ++column)
        SendMessageW(control, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column), LVSCW_AUTOSIZE_USEHEADER);
}

// Some common-control versions size a title-wide column a few pixels short and
// cut its title ("Restricted") to an ellipsis; the margins make up for that.
void ListViewControl::SizeColumnsToTitles() {
    AutoSizeColumns();
    const int margins = 8 * GetSystemMetrics(SM_CXEDGE);
    bool widened = false;
    for (int column = 0; column + 1 < columnCount; ++column) {
        wchar_t title[128] = {};
        LVCOLUMNW info = {};
        info.mask = LVCF_TEXT;
        info.pszText = title;
        info.cchTextMax = 128;
        if (!SendMessageW(control, LVM_GETCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&info)))
            continue;
        const int needed =
            static_cast<int>(SendMessageW(control, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(title))) + margins;
        if (SendMessageW(control, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0) < needed) {
            SendMessageW(control, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column), MAKELPARAM(needed, 0));
            widened = true;
        }
    }
    if (widened && columnCount > 0)
        SendMessageW(control, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(columnCount - 1), LVSCW_AUTOSIZE_USEHEADER);
}

void ListViewControl::DeleteAllRows() { SendMessageW(control, LVM_DELETEALLITEMS, 0, 0); }

int ListViewControl::GetSelectedRow() {
    return static_cast<int>(SendMessageW(control, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void ListViewControl::SetCellText(int row, int column, const wchar_t* text) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text);
    SendMessageW(control, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

void ListViewControl::SetRowData(int row, LPARAM value) {
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    item.iSubItem = 0;
    item.lParam = value;
    SendMessageW(control, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

LPARAM ListViewControl::GetRowData(int row) {
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    item.iSubItem = 0;
    SendMessageW(control, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    return item.lParam;
}

int ListViewControl::FindRowByData(LPARAM value) {
    LVFINDINFOW find = {};
    find.flags = LVFI_PARAM;
    find.lParam = value;
    return static_cast<int>(SendMessageW(control, LVM_FINDITEMW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)));
}

std::wstring ListViewControl::GetCellText(int row, int column) {
    wchar_t text[kCellTextCapacity] = {};
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = kCellTextCapacity;
    SendMessageW(control, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    // The control may answer with a pointer of its own instead of filling ours.
    const wchar_t* result = item.pszText != nullptr ? item.pszText : text;
    return std::wstring(result, wcsnlen(result, kCellTextCapacity - 1));
}

}  // namespace quenvar
