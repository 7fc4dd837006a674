#include "console/AccessControlPage.h"

#include <commctrl.h>

#include "client/ProcessRightsCache.h"
#include "client/RightsStore.h"
#include "common/RestartRoutine.h"
#include "resources/ResourceIds.h"

namespace quenvar {

namespace {

constexpr int kListId = IDC_LIST;
constexpr int kForgetFileId = IDC_FORGET_FILE;
constexpr int kDetailsListId = IDC_DETAILS_LIST;
constexpr int kDestroyFileId = IDC_DESTROY_FILE;

constexpr DWORD kListStyle = LVS_EX_FULLROWSELECT | LVS_EX_ONECLICKACTIVATE;
constexpr DWORD kDetailsStyle = LVS_EX_FULLROWSELECT;

constexpr int kPathColumn = 2;
constexpr int kValueColumn = 1;
constexpr int kDetailRows = 9;
const wchar_t* const kDetailProperties[kDetailRows] = {
    L"Can Read Screen", L"Can Hook Keyboard", L"Can Read Unowned Window", L"Version",    L"Company",
    L"Product Name",    L"Product Version",   L"Copyright",               L"Description",
};

constexpr DWORD kNameCapacity = 1024;  // characters
constexpr DWORD kDataCapacity = 1024;  // bytes

constexpr const wchar_t* kAreYouSure = L"Are you sure?";
constexpr UINT kQuestionFlags = MB_TOPMOST | MB_ICONQUESTION | MB_YESNO;

constexpr const wchar_t* kForgetFirst =
    L"You are about to have Quenvar Lockmere forget everything it knows about the file \"";
constexpr const wchar_t* kForgetSecond = L"\".\n\nAre you sure that you want to do this?";

constexpr const wchar_t* kEraseFirst = L"You are about to permanently erase the file \"";
constexpr const wchar_t* kEraseSecond =
    L"\".  You should only do this if you are sure that you do not want this file on your drive any "
    L"longer.\n\nAre you sure that you want to do this?";

constexpr const wchar_t* kDeletedTitle = L"Operation Complete";
constexpr const wchar_t* kDeletedFirst = L"The file \"";
constexpr const wchar_t* kDeletedSecond = L"\" has been deleted.";

constexpr const wchar_t* kScheduleTitle = L"Schedule Delete on Reboot?";
constexpr const wchar_t* kScheduleFirst = L"The file \"";
constexpr const wchar_t* kScheduleSecond =
    L"\" is currently in use and cannot be deleted right now.  We can schedule the file to be deleted when "
    L"you reboot your computer.\n\n Do you want to schedule this file for deletion when you reboot?";

constexpr const wchar_t* kRebootTitle = L"Reboot Now?";
constexpr const wchar_t* kRebootFirst = L"The file \"";
constexpr const wchar_t* kRebootSecond =
    L"\" has been scheduled for deletion when you reboot the computer.\n\nDo you want to reboot the computer "
    L"now?";

constexpr const wchar_t* kDeniedTitle = L"Access Denied";
constexpr const wchar_t* kDeniedText =
    L"The file cannot be scheduled for deletion when the computer reboots.  You do not have permission to do "
    L"this.  Only unrestricted users may schedule file deletion on reboot.\n\nContact your system "
    L"administrator to take care of this problem.";

// A call of UpdateProgram made on another thread, run by the page's thread.
constexpr UINT kUpdateProgramMessage = WM_APP + 0x135;
struct UpdateProgramCall {
    const std::wstring* path;
    uint32_t allowedMask;
    uint32_t deniedMask;
};

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring Quoted(const wchar_t* first, const std::wstring& path, const wchar_t* second) {
    return first + path + second;
}

// AutoSizeColumns, then at least as wide as each column's title with the
// header's margins: some common-control versions size a title-wide column a few
// pixels short and cut its title ("Restricted") to an ellipsis. The last column
// is sized again afterwards, so that it still just fills the rest.
void SizeColumns(ListViewControl& view) {
    view.AutoSizeColumns();
    const int margins = 8 * GetSystemMetrics(SM_CXEDGE);
    bool widened = false;
    for (int column = 0; column + 1 < view.columnCount; ++column) {
        wchar_t title[128] = {};
        LVCOLUMNW info = {};
        info.mask = LVCF_TEXT;
        info.pszText = title;
        info.cchTextMax = 128;
        if (!SendMessageW(view.control, LVM_GETCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&info)))
            continue;
        const int needed =
            static_cast<int>(SendMessageW(view.control, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(title))) +
            margins;
        if (SendMessageW(view.control, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0) < needed) {
            SendMessageW(view.control, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column), MAKELPARAM(needed, 0));
            widened = true;
        }
    }
    if (widened && view.columnCount > 0)
        SendMessageW(view.control, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(view.columnCount - 1),
                     LVSCW_AUTOSIZE_USEHEADER);
}

uint32_t WidenSigned(uint8_t byte) { return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(byte))); }

}  // namespace

HANDLE accessListLock = CreateMutexW(nullptr, FALSE, nullptr);

const wchar_t* RightText(uint32_t allowedMask, uint32_t deniedMask, uint32_t bit) {
    if ((allowedMask & bit) != 0) return L"Yes";
    if ((deniedMask & bit) != 0) return L"No";
    return L"Ask";
}

StoredMasks MasksOfStoredValue(const uint8_t* data, DWORD size) {
    StoredMasks masks = {};
    if (size > 0) masks.deniedMask = WidenSigned(data[0]);
    if (size > 1) masks.allowedMask = WidenSigned(data[1]);
    return masks;
}

// Lock order. The service link thread reports saved decisions through
// UpdateProgram, while this page's thread takes accessListLock in
// RefreshDetails, ForgetFile and DestroyFile (also from list-view
// notifications). Were the link thread to take the lock and then send messages
// to the lists, each thread could wait for the other. So only the page's own
// thread ever takes accessListLock and touches the lists: UpdateProgram from
// any other thread is handed over with SendMessageW, which the page's thread
// runs whenever it pumps, message boxes included. The lock still orders the
// page's re-entrant steps, and it is never held by a thread that sends.
AccessControlPage::AccessControlPage(HWND parent)
    : ModelessDialog(kAccessControlPageTemplate, parent),
      listView(nullptr),
      listWindow(nullptr),
      detailsView(nullptr),
      detailsWindow(nullptr),
      forgetButton(nullptr),
      destroyButton(nullptr),
      pageThread(GetCurrentThreadId()),
      pageWindow(window) {
    listWindow = GetItem(kListId);
    listView = new ListViewControl(listWindow, kListStyle);
    listView->InsertColumn(L"Program Name");
    listView->InsertColumn(L"Restricted");
    listView->InsertColumn(L"Path");
    SizeColumns(*listView);

    detailsWindow = GetItem(kDetailsListId);
    detailsView = new ListViewControl(detailsWindow, kDetailsStyle);
    detailsView->InsertColumn(L"Property");
    detailsView->InsertColumn(L"Value");
    for (const wchar_t* property : kDetailProperties) detailsView->InsertRow(2, property, L"");
    SizeColumns(*detailsView);

    forgetButton = GetItem(kForgetFileId);
    destroyButton = GetItem(kDestroyFileId);

    RegCreateKeyExW(HKEY_CURRENT_USER, kRightsKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    rightsKey.receive(), nullptr);

    LoadFromRegistry();
    RefreshDetails();
}

AccessControlPage::~AccessControlPage() {
    // The window goes first, so that no notification of the lists reaches this
    // page while its records are freed.
    Destroy();
    for (auto& entry : programs) delete entry.second;
    programs.clear();
    delete listView;
    listView = nullptr;
    delete detailsView;
    detailsView = nullptr;
}

void AccessControlPage::LoadFromRegistry() {
    for (DWORD index = 0;; ++index) {
        wchar_t name[kNameCapacity];
        uint8_t data[kDataCapacity];
        DWORD nameLength = kNameCapacity;
        DWORD dataSize = kDataCapacity;
        const LONG result =
            RegEnumValueW(rightsKey.get(), index, name, &nameLength, nullptr, nullptr, data, &dataSize);
        // A value too large for the buffers is no rights record; the ones after
        // it are still listed.
        if (result == ERROR_MORE_DATA) continue;
        if (result != ERROR_SUCCESS) break;
        const StoredMasks masks = MasksOfStoredValue(data, dataSize);
        UpdateProgram(std::wstring(name, nameLength), masks.allowedMask, masks.deniedMask);
    }
    SizeColumns(*listView);
}

void AccessControlPage::UpdateProgram(const std::wstring& path, uint32_t allowedMask, uint32_t deniedMask) {
    if (pageWindow != nullptr && GetCurrentThreadId() != pageThread) {
        UpdateProgramCall call = {&path, allowedMask, deniedMask};
        // Fails harmlessly once the window is gone.
        SendMessageW(pageWindow, kUpdateProgramMessage, 0, reinterpret_cast<LPARAM>(&call));
        return;
    }
    UpdateProgramOnPageThread(path, allowedMask, deniedMask);
}

void AccessControlPage::UpdateProgramOnPageThread(const std::wstring& path, uint32_t allowedMask,
                                                  uint32_t deniedMask) {
    MutexLock hold(accessListLock);
    const wchar_t* restricted = deniedMask != 0 ? L"Yes" : L"No";
    ProgramInfo* info = nullptr;
    const auto found = programs.find(path);
    const bool listed = found != programs.end();
    if (!listed) {
        // A record whose program file is gone is not listed.
        if (!FileExists(path)) return;
        info = new ProgramInfo(path);
        const int row = listView->InsertRow(3, info->displayName.c_str(), restricted, path.c_str());
        listView->SetRowData(row, reinterpret_cast<LPARAM>(info));
        programs[path] = info;
    } else {
        info = found->second;
        const int row = listView->FindRowByData(reinterpret_cast<LPARAM>(info));
        if (row >= 0) {
            listView->SetCellText(row, 1, restricted);
            listView->SetCellText(row, kPathColumn, path.c_str());
        }
    }
    info->allowedMask = allowedMask;
    info->deniedMask = deniedMask;
    SizeColumns(*listView);
    EnableWindow(listWindow, TRUE);
    // A selected program shows its new rights at once.
    if (listed) RefreshDetails();
}

void AccessControlPage::RefreshDetails() {
    MutexLock hold(accessListLock);
    const int row = listView->GetSelectedRow();
    if (row < 0) {
        ShowDetails(nullptr);
        return;
    }
    if (!listView->GetCellText(row, kPathColumn).empty())
        ShowDetails(reinterpret_cast<ProgramInfo*>(listView->GetRowData(row)));
}

void AccessControlPage::ShowDetails(ProgramInfo* info) {
    if (info == nullptr) {
        for (int row = 0; row < kDetailRows; ++row) detailsView->SetCellText(row, kValueColumn, L"");
        EnableWindow(destroyButton, FALSE);
        EnableWindow(forgetButton, FALSE);
        EnableWindow(detailsWindow, FALSE);
        return;
    }
    const wchar_t* const values[kDetailRows] = {
        RightText(info->allowedMask, info->deniedMask, 1u << 0),
        RightText(info->allowedMask, info->deniedMask, 1u << 1),
        RightText(info->allowedMask, info->deniedMask, 1u << 2),
        info->fileVersion.c_str(),
        info->companyName.c_str(),
        info->productName.c_str(),
        info->productVersion.c_str(),
        info->legalCopyright.c_str(),
        info->comments.c_str(),
    };
    for (int row = 0; row < kDetailRows; ++row) detailsView->SetCellText(row, kValueColumn, values[row]);
    EnableWindow(destroyButton, FileExists(info->path) ? TRUE : FALSE);
    EnableWindow(forgetButton, TRUE);
    EnableWindow(detailsWindow, TRUE);
}

void AccessControlPage::ForgetFile() {
    MutexLock hold(accessListLock);
    const int row = listView->GetSelectedRow();
    if (row >= 0) {
        const std::wstring path = listView->GetCellText(row, kPathColumn);
        if (!path.empty() &&
            MessageBoxW(window, Quoted(kForgetFirst, path, kForgetSecond).c_str(), kAreYouSure, kQuestionFlags) ==
                IDYES) {
            programs.erase(path);
            ProgramInfo* info = reinterpret_cast<ProgramInfo*>(listView->GetRowData(row));
            if (info != nullptr) RegDeleteValueW(rightsKey.get(), info->path.c_str());
            // The row goes before its record: deleting a selected row notifies
            // the page, whose details must not read a freed record.
            listView->DeleteRow(row);
            delete info;
            RefreshDetails();
            TheRightsStore().Forget(path);
        }
    }
    if (listView->GetItemCount() == 0) EnableWindow(listWindow, FALSE);
}

void AccessControlPage::DestroyFile() {
    MutexLock hold(accessListLock);
    const int row = listView->GetSelectedRow();
    if (row >= 0) {
        const std::wstring path = listView->GetCellText(row, kPathColumn);
        if (!FileExists(path)) {
            EnableWindow(destroyButton, FALSE);
        } else if (MessageBoxW(window, Quoted(kEraseFirst, path, kEraseSecond).c_str(), kAreYouSure,
                               kQuestionFlags) == IDYES) {
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (DeleteFileW(path.c_str())) {
                MessageBoxW(window, Quoted(kDeletedFirst, path, kDeletedSecond).c_str(), kDeletedTitle, MB_TOPMOST);
            } else if (MessageBoxW(window, Quoted(kScheduleFirst, path, kScheduleSecond).c_str(), kScheduleTitle,
                                   kQuestionFlags) == IDYES) {
                if (MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
                    if (MessageBoxW(window, Quoted(kRebootFirst, path, kRebootSecond).c_str(), kRebootTitle,
                                    kQuestionFlags) == IDYES)
                        restartRoutine();
                } else {
                    MessageBoxW(window, kDeniedText, kDeniedTitle, MB_ICONERROR);
                }
            }
        }
    }
    RefreshDetails();
}

INT_PTR AccessControlPage::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kUpdateProgramMessage) {
        const auto* call = reinterpret_cast<const UpdateProgramCall*>(lParam);
        UpdateProgramOnPageThread(*call->path, call->allowedMask, call->deniedMask);
        return TRUE;
    }
    if (message == WM_NOTIFY) {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->hwndFrom == listWindow && header->code == LVN_ITEMCHANGED) {
            const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
            if (((change->uNewState | change->uOldState) & LVIS_SELECTED) != 0) RefreshDetails();
        }
        return FALSE;
    }
    return ModelessDialog::HandleMessage(message, wParam, lParam);
}

void AccessControlPage::OnCommand(int controlId, HWND /*controlWindow*/) {
    if (controlId == kForgetFileId)
        ForgetFile();
    else if (controlId == kDestroyFileId)
        DestroyFile();
}

}  // namespace quenvar
