// The question to the user about one access: an always-on-top window that
// names the program, explains the risk of the kind of access and offers
// "Allow Access", "Deny Access" and "More Information". It can be left only
// through the two answer buttons.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include <string>

#include "client/TemplateValues.h"
#include "ui/ModelessDialog.h"

namespace quenvar {

class ProgramDetailsDialog;
class RichTextView;

// The documents explaining one kind of access; false (and both 0) for a kind
// that has none.
bool AccessTextsFor(uint32_t breachKind, int* promptTextId, int* moreInfoTextId);

class AccessPrompt : public ModelessDialog {
public:
    // Builds the whole prompt, hidden, about the program file at `path` (the
    // whole path that is judged and stored, however long) for an access of
    // `breachKind`.
    AccessPrompt(uint32_t breachKind, const std::wstring& path);
    ~AccessPrompt() override;

    // Puts the focus on "More Information" whenever the prompt is activated.
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    // Destroys the details window first.
    void OnDestroy() override;
    // Does nothing: neither a close request nor Alt+F4 answers the prompt.
    bool OnClose() override;
    // "Allow Access" and "Deny Access" answer and close; "More Information"
    // shows the details window.
    void OnCommand(int controlId, HWND controlWindow) override;

    // The "More Information" window.
    std::unique_ptr<ProgramDetailsDialog> details;
    // The prompt text pane.
    std::unique_ptr<RichTextView> text;
    // The answer, read once the prompt is closed: true only after "Allow Access".
    bool allowed;
    // True once the user pressed "Allow Access" or "Deny Access": only then is
    // `allowed` the user's answer.
    bool answered;
    // The placeholders of the program the prompt is about.
    TemplateValues values;
};

}  // namespace quenvar
