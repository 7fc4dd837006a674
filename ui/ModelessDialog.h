// Base of every window of the user-interface program: a modeless dialog made
// from a dialog template of the program's resources, routed to its object
// through DialogRegistry.
#pragma once

#include <windows.h>

namespace quenvar {

class ModelessDialog {
public:
    // Creates the (hidden) window from template `templateId` of appInstance.
    // `parent` is null for top-level windows and the tab control for pages.
    ModelessDialog(int templateId, HWND parent);
    // Destroys the window if it still exists. Derived destructors release what
    // they own first; the WM_DESTROY this causes runs the base OnDestroy.
    virtual ~ModelessDialog();
    ModelessDialog(const ModelessDialog&) = delete;
    ModelessDialog& operator=(const ModelessDialog&) = delete;

    // The slot order of these operations is fixed; derived windows rely on it.
    virtual void Destroy();
    virtual void Hide();
    virtual void Show();
    virtual void Disable();
    virtual void Enable();
    virtual void BringToTop();
    // Moves the window to x, y without changing its size.
    virtual void MoveTo(int x, int y);
    virtual HWND GetItem(int controlId);
    // The per-object dialog procedure. Derived windows handle their own
    // messages first and pass the rest to this one.
    virtual INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    virtual void OnCreate();
    virtual void OnDestroy();
    // Returns true when the window was closed (destroyed).
    virtual bool OnClose();
    // A click (notification code 0) on a control; by default any button closes.
    virtual void OnCommand(int controlId, HWND controlWindow);

    bool IsVisible() const;

    // The wait for a dialog's answer: pumps every message of the calling thread
    // while isOpen is true. Returns false if the thread's quit message ended the
    // wait early. The quit message is not posted again: any process of the
    // desktop can post it, and posted again it would end every later wait of
    // the thread. A dialog whose window could not be created is not open, so
    // this returns at once.
    bool PumpWhileOpen();

    // Null if creation failed, and null again once the window is destroyed.
    HWND window;
    // True from construction until WM_DESTROY; false at once if the window
    // could not be created, so that nobody waits for it.
    bool isOpen;
};

// The dialog procedure of every window made by ModelessDialog.
INT_PTR CALLBACK ModelessDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace quenvar
