#include "console/LogPage.h"

#include <commctrl.h>

#include <string>

#include "ui/DispatchingMutexLock.h"
#include "console/LogText.h"
#include "resources/ResourceIds.h"
#include "ui/MessageBoxCall.h"

namespace quenvar {

namespace {

constexpr int kListId = IDC_LIST;
constexpr int kClearLogId = IDC_CLEAR_LOG;

constexpr const wchar_t* kClearLogQuestion =
    L"You are about to erase all of the log entries.  Are you sure you want to do this?";
constexpr const wchar_t* kClearLogTitle = L"Are you sure?";

}  // namespace

LogPage* logPage = nullptr;
HANDLE logLock = CreateMutexW(nullptr, FALSE, nullptr);

SYSTEMTIME LocalTimeNow() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return now;
}

LogClock logClock = LocalTimeNow;

LogPage::LogPage(HWND parent) : ModelessDialog(kLogPageTemplate, parent), clearButton(nullptr) {
    listView = std::make_unique<ListViewControl>(GetItem(kListId), LVS_EX_FULLROWSELECT);
    listView->InsertColumn(L"Time");
    listView->InsertColumn(L"Message");
    listView->AutoSizeColumns();
    {
        // Waiting dispatches sent messages: the window thread may take the lock
        // while another thread, holding it, waits on this thread's list view.
        DispatchingMutexLock hold(logLock);
        // Without the lock the page stays unknown to AddLogEntry: it shows no
        // lines, but no writer can meet it half-built.
        if (hold.held()) logPage = this;
    }
    clearButton = GetItem(kClearLogId);
    EnableWindow(clearButton, FALSE);
}

LogPage::~LogPage() {
    {
        DispatchingMutexLock hold(logLock);
        if (hold.held() && logPage == this) logPage = nullptr;
    }
    listView.reset();
}

void LogPage::OnCommand(int controlId, HWND /*controlWindow*/) {
    if (controlId != kClearLogId) return;
    // Not under logLock: the box pumps messages, and an entry added meanwhile
    // at worst lands in the list just before it is emptied.
    if (showMessageBox(window, kClearLogQuestion, kClearLogTitle, MB_TOPMOST | MB_ICONQUESTION | MB_YESNO) != IDYES)
        return;
    listView->DeleteAllRows();
    EnableWindow(clearButton, FALSE);
}

void AddLogEntry(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    AddLogEntryV(format, args);
    va_end(args);
}

void AddLogEntryV(const wchar_t* format, va_list args) {
    // Kept for the column sizing after the lock is released, when the page's
    // objects may no longer be touched; a handle of a destroyed window only
    // makes the messages fail.
    HWND list = nullptr;
    int columns = 0;
    {
        DispatchingMutexLock hold(logLock);
        if (!hold.held()) return;
        LogPage* page = logPage;
        if (page == nullptr) return;
        ListViewControl& view = *page->listView;
        list = view.control;
        columns = view.columnCount;

        const int count = view.GetItemCount();
        std::wstring lastTime;
        std::wstring lastMessage;
        if (count == 0) {
            EnableWindow(page->clearButton, TRUE);  // a row is about to exist
        } else {
            lastTime = view.GetCellText(count - 1, 0);
            lastMessage = view.GetCellText(count - 1, 1);
        }

        const std::wstring message = FormatLogMessage(format, args);
        const std::wstring timeText = FormatLogTime(logClock());

        if (count > 0 && IsLogRepeat(lastTime, lastMessage, timeText, message)) {
            const int last = count - 1;
            const unsigned repeats = static_cast<unsigned>(view.GetRowData(last)) + 1;
            view.SetRowData(last, static_cast<LPARAM>(repeats));
            view.SetCellText(last, 1, FormatRepeatedMessage(message, repeats).c_str());
        } else {
            const int row = view.InsertRow(2, timeText.c_str(), message.c_str());
            view.SetRowData(row, 1);
            view.EnsureVisible(row);
        }
    }
    for (int column = 0; column < columns; ++column)
        SendMessageW(list, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column), LVSCW_AUTOSIZE_USEHEADER);
}

}  // namespace quenvar
