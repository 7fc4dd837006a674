// The "Access Control" tab page: every program the user has settled a right
// for, the rights and version details of the selected one, and the two file
// actions "Forget File" and "Destroy File".
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>

#include "client/ProgramInfo.h"
#include "common/MutexLock.h"
#include "common/UniqueResource.h"
#include "ui/ListViewControl.h"
#include "ui/ModelessDialog.h"

namespace quenvar {

// Orders everything that reads or changes a page's programs, lists and buttons.
// Unnamed, created unowned during static initialisation; a Win32 mutex, so the
// thread that holds it may take it again.
// Never closed: other threads may wait for it until the process ends.
extern HANDLE accessListLock;

// The rights of one kind of access, bit (1 << BreachKind): "Yes" when allowed,
// else "No" when denied, else "Ask".
const wchar_t* RightText(uint32_t allowedMask, uint32_t deniedMask, uint32_t bit);

// The masks a stored rights value names: byte 1 the allowed mask, byte 0 the
// denied mask, each widened as a signed byte. Bytes the value does not have
// count as 0, so a short value lists its program as "Ask" and can be forgotten.
struct StoredMasks {
    uint32_t allowedMask;
    uint32_t deniedMask;
};
StoredMasks MasksOfStoredValue(const uint8_t* data, DWORD size);

class AccessControlPage : public ModelessDialog {
public:
    // `parent` is the main window's tab control. Lists the stored programs.
    explicit AccessControlPage(HWND parent);
    ~AccessControlPage() override;

    // Adds the program's row, or refreshes it (and the details, when it is the
    // selected one). From any thread: a call from another thread is run by the
    // page's own thread, which the caller waits for.
    void UpdateProgram(const std::wstring& path, uint32_t allowedMask, uint32_t deniedMask);
    // Lists every stored rights value whose program file exists, and drops
    // the rows of values gone since. The selection stays on its row while that
    // is listed. On the page's thread.
    void LoadFromRegistry();
    // Shows the selected program's details, or clears and disables them.
    void RefreshDetails();
    // Fills the nine values and enables the buttons; null clears and disables.
    void ShowDetails(ProgramInfo* info);
    // "Forget File": drops the selected program's row, rights value and cached rights.
    void ForgetFile();
    // "Destroy File": deletes the selected program's file, or schedules its
    // deletion for the next restart.
    void DestroyFile();

    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    // "Forget File" (1031) and "Destroy File" (1033); other ids are ignored.
    void OnCommand(int controlId, HWND controlWindow) override;

    // Full path, compared exactly -> the program's record.
    std::map<std::wstring, std::unique_ptr<ProgramInfo>> programs;
    // Columns "Program Name", "Restricted", "Path"; each row's data is its record.
    std::unique_ptr<ListViewControl> listView;
    HWND listWindow;
    // Columns "Property" and "Value"; nine fixed rows.
    std::unique_ptr<ListViewControl> detailsView;
    HWND detailsWindow;
    HWND forgetButton;
    HWND destroyButton;
    // HKEY_CURRENT_USER "Software\Quenvar\Lockmere\Rights\", open for the page's life.
    UniqueRegKey rightsKey;

private:
    // A call of UpdateProgram from another thread, waiting for the page's thread.
    struct QueuedUpdate {
        std::wstring path;
        uint32_t allowedMask = 0;
        uint32_t deniedMask = 0;
    };
    // Runs every queued call on the page's thread.
    void RunQueuedUpdates();
    // Frees the record listed under `path` and the one the row showed.
    void DropProgram(const std::wstring& path, const ProgramInfo* info);
    void UpdateProgramOnPageThread(const std::wstring& path, uint32_t allowedMask, uint32_t deniedMask);

    // Guards queuedUpdates; never held while a message is sent.
    UniqueHandle updatesLock;
    std::deque<QueuedUpdate> queuedUpdates;
    // The thread that built the page and serves its window.
    DWORD pageThread;
    // The window as created, kept for callers on other threads.
    HWND pageWindow;
};

}  // namespace quenvar
