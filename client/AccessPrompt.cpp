#include "client/AccessPrompt.h"

#include <new>

#include "client/ProgramDetailsDialog.h"
#include "client/ProgramInfo.h"
#include "client/RichTextView.h"
#include "common/DriverInterface.h"
#include "resources/ResourceIds.h"

namespace quenvar {

bool AccessTextsFor(uint32_t breachKind, int* promptTextId, int* moreInfoTextId) {
    switch (breachKind) {
    case kScreenAccess:
        *promptTextId = kScreenAccessPromptText;
        *moreInfoTextId = kScreenAccessMoreInfoText;
        return true;
    case kKeyboardHook:
        *promptTextId = kKeyboardHookPromptText;
        *moreInfoTextId = kKeyboardHookMoreInfoText;
        return true;
    case kForeignTextAccess:
        *promptTextId = kWindowTextPromptText;
        *moreInfoTextId = kWindowTextMoreInfoText;
        return true;
    default:
        *promptTextId = 0;
        *moreInfoTextId = 0;
        return false;
    }
}

AccessPrompt::AccessPrompt(uint32_t breachKind, const std::wstring& path)
    : ModelessDialog(kAccessPromptTemplate, nullptr), allowed(false), answered(false) {
    int promptTextId = 0;
    int moreInfoTextId = 0;
    const bool hasTexts = AccessTextsFor(breachKind, &promptTextId, &moreInfoTextId);
    FillTemplateValues(ProgramInfo(path), values);

    details.reset(new (std::nothrow) ProgramDetailsDialog(this, moreInfoTextId));
    text.reset(new (std::nothrow) RichTextView(GetItem(IDC_PROMPT_TEXT)));
    // An unknown kind has no text: the pane stays empty.
    if (hasTexts && text != nullptr) text->ShowResource(promptTextId, values);
}

AccessPrompt::~AccessPrompt() {
    text.reset();
    details.reset();
    values.clear();
}

INT_PTR AccessPrompt::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    // A focused push button takes Space as a click, and the dialog manager
    // would focus the first tab stop, "Allow Access": a key meant for another
    // window would answer. "More Information" answers nothing. Handled here,
    // so the dialog manager does not move the focus back.
    if (message == WM_ACTIVATE && LOWORD(wParam) != WA_INACTIVE) {
        SetFocus(GetItem(IDC_MORE_INFORMATION));
        return TRUE;
    }
    return ModelessDialog::HandleMessage(message, wParam, lParam);
}

void AccessPrompt::OnDestroy() {
    if (details != nullptr) details->Destroy();
    ModelessDialog::OnDestroy();
}

bool AccessPrompt::OnClose() { return false; }

void AccessPrompt::OnCommand(int controlId, HWND /*controlWindow*/) {
    switch (controlId) {
    case IDC_ALLOW_ACCESS:
        allowed = true;
        answered = true;
        Destroy();
        break;
    case IDC_DENY_ACCESS:
        allowed = false;
        answered = true;
        Destroy();
        break;
    case IDC_MORE_INFORMATION:
        if (details == nullptr) break;
        details->Show();
        details->BringToTop();
        break;
    default:
        break;
    }
}

}  // namespace quenvar
