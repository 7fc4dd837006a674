#include "console/AccessControlPage.h"

#include <commctrl.h>

#include <set>
#include <utility>

#include "client/ProcessRightsCache.h"
#include "client/RightsStore.h"
#include "console/ProgramFileActions.h"
#include "resources/ResourceIds.h"
#include "ui/ReadableMemory.h"

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

// Tells the page's thread to run the calls of UpdateProgram that other
// threads queued. It carries no data: any process can send any message with
// any parameters to the page.
constexpr UINT kRunQueuedUpdatesMessage = WM_APP + 0x135;

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

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
// any other thread queues its call and sends a data-less message, which the
// page's thread runs whenever it pumps, message boxes included. The lock still
// orders the page's re-entrant steps, and it is never held by a thread that
// sends.
AccessControlPage::AccessControlPage(HWND parent)
    : ModelessDialog(kAccessControlPageTemplate, parent),
      listWindow(nullptr),
      detailsWindow(nullptr),
      forgetButton(nullptr),
      destroyButton(nullptr),
      updatesLock(CreateMutexW(nullptr, FALSE, nullptr)),
      pageThread(GetCurrentThreadId()),
      pageWindow(window) {
    listWindow = GetItem(kListId);
    listView = std::make_unique<ListViewControl>(listWindow, kListStyle);
    listView->InsertColumn(L"Program Name");
    listView->InsertColumn(L"Restricted");
    listView->InsertColumn(L"Path");
    listView->SizeColumnsToTitles();

    detailsWindow = GetItem(kDetailsListId);
    detailsView = std::make_unique<ListViewControl>(detailsWindow, kDetailsStyle);
    detailsView->InsertColumn(L"Property");
    detailsView->InsertColumn(L"Value");
    for (const wchar_t* property : kDetailProperties) detailsView->InsertRow(2, property, L"");
    detailsView->SizeColumnsToTitles();

    forgetButton = GetItem(kForgetFileId);
    destroyButton = GetItem(kDestroyFileId);

    RegCreateKeyExW(HKEY_CURRENT_USER, kRightsKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    rightsKey.receive(), nullptr);

    LoadFromRegistry();
}

AccessControlPage::~AccessControlPage() {
    // The window goes first, so that no notification of the lists reaches this
    // page while its records are freed.
    Destroy();
    programs.clear();
    listView.reset();
    detailsView.reset();
}

void AccessControlPage::LoadFromRegistry() {
    MutexLock hold(accessListLock);
    if (!hold.held()) return;
    std::set<std::wstring> stored;
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
        stored.insert(std::wstring(name, nameLength));
        UpdateProgramOnPageThread(std::wstring(name, nameLength), masks.allowedMask, masks.deniedMask);
    }
    // A row whose value another program removed is no longer in force. (One
    // whose file is gone stays, as after Destroy File.) A row goes before its
    // record, as in ForgetFile.
    for (auto entry = programs.begin(); entry != programs.end();) {
        if (stored.count(entry->first) != 0) {
            ++entry;
            continue;
        }
        listView->DeleteRow(listView->FindRowByData(reinterpret_cast<LPARAM>(entry->second.get())));
        entry = programs.erase(entry);
    }
    listView->SizeColumnsToTitles();
    EnableWindow(listWindow, listView->GetItemCount() > 0 ? TRUE : FALSE);
    RefreshDetails();
}

void AccessControlPage::UpdateProgram(const std::wstring& path, uint32_t allowedMask, uint32_t deniedMask) {
    if (pageWindow != nullptr && GetCurrentThreadId() != pageThread) {
        {
            MutexLock hold(updatesLock.get());
            if (!hold.held()) return;
            queuedUpdates.push_back({path, allowedMask, deniedMask});
        }
        // Waits until the page's thread has run the queue; fails harmlessly
        // once the window is gone.
        SendMessageW(pageWindow, kRunQueuedUpdatesMessage, 0, 0);
        return;
    }
    UpdateProgramOnPageThread(path, allowedMask, deniedMask);
}

void AccessControlPage::RunQueuedUpdates() {
    for (;;) {
        QueuedUpdate update;
        {
            MutexLock hold(updatesLock.get());
            if (!hold.held() || queuedUpdates.empty()) return;
            update = std::move(queuedUpdates.front());
            queuedUpdates.pop_front();
        }
        UpdateProgramOnPageThread(update.path, update.allowedMask, update.deniedMask);
    }
}

void AccessControlPage::UpdateProgramOnPageThread(const std::wstring& path, uint32_t allowedMask,
                                                  uint32_t deniedMask) {
    MutexLock hold(accessListLock);
    if (!hold.held()) return;
    const wchar_t* restricted = deniedMask != 0 ? L"Yes" : L"No";
    ProgramInfo* info = nullptr;
    const auto found = programs.find(path);
    const bool listed = found != programs.end();
    if (!listed) {
        // A record whose program file is gone is not listed.
        if (!FileExists(path)) return;
        auto created = std::make_unique<ProgramInfo>(path);
        info = created.get();
        const int row = listView->InsertRow(3, info->displayName.c_str(), restricted, path.c_str());
        listView->SetRowData(row, reinterpret_cast<LPARAM>(info));
        programs[path] = std::move(created);
    } else {
        info = found->second.get();
        const int row = listView->FindRowByData(reinterpret_cast<LPARAM>(info));
        if (row >= 0) {
            listView->SetCellText(row, 1, restricted);
            listView->SetCellText(row, kPathColumn, path.c_str());
        }
    }
    info->allowedMask = allowedMask;
    info->deniedMask = deniedMask;
    listView->SizeColumnsToTitles();
    EnableWindow(listWindow, TRUE);
    // A selected program shows its new rights at once.
    if (listed) RefreshDetails();
}

void AccessControlPage::RefreshDetails() {
    MutexLock hold(accessListLock);
    if (!hold.held()) return;
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
    if (!hold.held()) return;
    const int row = listView->GetSelectedRow();
    if (row >= 0) {
        const std::wstring path = listView->GetCellText(row, kPathColumn);
        if (!path.empty() && ConfirmForget(window, path)) {
            ProgramInfo* info = reinterpret_cast<ProgramInfo*>(listView->GetRowData(row));
            if (info != nullptr) RegDeleteValueW(rightsKey.get(), info->path.c_str());
            // The row goes before its record: deleting a selected row notifies
            // the page, whose details must not read a freed record.
            listView->DeleteRow(row);
            DropProgram(path, info);
            RefreshDetails();
            TheRightsStore().Forget(path);
        }
    }
    if (listView->GetItemCount() == 0) EnableWindow(listWindow, FALSE);
}

void AccessControlPage::DestroyFile() {
    MutexLock hold(accessListLock);
    if (!hold.held()) return;
    const int row = listView->GetSelectedRow();
    // The path is the record's: a cell's text can be changed by other programs.
    const ProgramInfo* info = row >= 0 ? reinterpret_cast<ProgramInfo*>(listView->GetRowData(row)) : nullptr;
    if (info != nullptr) {
        if (!FileExists(info->path))
            EnableWindow(destroyButton, FALSE);
        else
            ConfirmAndDestroyFile(window, info->path);
    }
    RefreshDetails();
}

void AccessControlPage::DropProgram(const std::wstring& path, const ProgramInfo* info) {
    programs.erase(path);
    for (auto entry = programs.begin(); entry != programs.end(); ++entry) {
        if (entry->second.get() == info) {
            programs.erase(entry);
            break;
        }
    }
}

INT_PTR AccessControlPage::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kRunQueuedUpdatesMessage) {
        RunQueuedUpdates();
        return TRUE;
    }
    if (message == WM_NOTIFY) {
        // Only a readable record can be a notification of the page's own list.
        if (!IsReadableMemory(reinterpret_cast<const void*>(lParam), sizeof(NMLISTVIEW))) return FALSE;
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
