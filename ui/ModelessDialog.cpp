#include "ui/ModelessDialog.h"

#include "ui/AppInstance.h"
#include "ui/DialogRegistry.h"

namespace quenvar {

ModelessDialog::ModelessDialog(int templateId, HWND parent) : window(nullptr), isOpen(true) {
    window = CreateDialogParamW(appInstance, MAKEINTRESOURCEW(templateId), parent, ModelessDialogProc, 0);
    // Registered only now: nothing sent during creation reaches the object.
    if (window != nullptr)
        DialogRegistry::Add(window, this);
    else
        isOpen = false;
}

ModelessDialog::~ModelessDialog() {
    if (window != nullptr) DestroyWindow(window);
}

void ModelessDialog::Destroy() {
    if (window != nullptr) DestroyWindow(window);
}

void ModelessDialog::Hide() {
    if (window != nullptr) ShowWindow(window, SW_HIDE);
}

void ModelessDialog::Show() {
    if (window != nullptr) ShowWindow(window, SW_SHOW);
}

void ModelessDialog::Disable() { EnableWindow(window, FALSE); }

void ModelessDialog::Enable() { EnableWindow(window, TRUE); }

void ModelessDialog::BringToTop() { BringWindowToTop(window); }

void ModelessDialog::MoveTo(int x, int y) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    MoveWindow(window, x, y, rect.right - rect.left, rect.bottom - rect.top, TRUE);
}

HWND ModelessDialog::GetItem(int controlId) {
    return window == nullptr ? nullptr : GetDlgItem(window, controlId);
}

INT_PTR ModelessDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        OnCreate();
        return FALSE;
    case WM_DESTROY:
        OnDestroy();
        return TRUE;
    case WM_CLOSE:
        OnClose();
        return FALSE;
    case WM_COMMAND:
        if (HIWORD(wParam) == 0) OnCommand(LOWORD(wParam), reinterpret_cast<HWND>(lParam));
        return FALSE;
    default:
        return FALSE;
    }
}

void ModelessDialog::OnCreate() { isOpen = true; }

void ModelessDialog::OnDestroy() {
    if (window != nullptr) {
        DialogRegistry::Remove(window);
        window = nullptr;
    }
    isOpen = false;
}

bool ModelessDialog::OnClose() {
    DestroyWindow(window);
    return true;
}

void ModelessDialog::OnCommand(int /*controlId*/, HWND /*controlWindow*/) { OnClose(); }

bool ModelessDialog::IsVisible() const { return IsWindowVisible(window) == TRUE; }

bool ModelessDialog::PumpWhileOpen() {
    MSG message;
    while (isOpen) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) return false;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return true;
}

INT_PTR CALLBACK ModelessDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    // The registry lock is released before the object is called: the object may
    // create or destroy dialogs itself.
    ModelessDialog* dialog = DialogRegistry::Find(hwnd);
    if (dialog == nullptr) return FALSE;
    return dialog->HandleMessage(message, wParam, lParam);
}

}  // namespace quenvar
