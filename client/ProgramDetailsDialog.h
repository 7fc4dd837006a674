// The Program Details window: the access prompt's "More Information" window.
// The upper part lists the program's version details, the lower one explains
// the risk of the kind of access.
#pragma once

#include <windows.h>

#include "ui/ModelessDialog.h"

namespace quenvar {

class AccessPrompt;

// The items of the details list, in list order, with the one-placeholder
// document that shows each item's value.
struct ProgramDetailsItem {
    const wchar_t* name;
    int resourceId;
};
constexpr int kProgramDetailsItemCount = 8;
extern const ProgramDetailsItem kProgramDetailsItems[kProgramDetailsItemCount];

class ProgramDetailsDialog : public ModelessDialog {
public:
    // Built hidden. `owner` holds the values shown and outlives this window;
    // `moreInfoId` is the document of the lower pane, 0 for none.
    ProgramDetailsDialog(AccessPrompt* owner, int moreInfoId);
    ~ProgramDetailsDialog() override;

    // List selection changes and the blue caption of the group box.
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    // Closing and every button only hide the window; it is destroyed with its
    // prompt.
    bool OnClose() override;
    void OnCommand(int controlId, HWND controlWindow) override;

    // Shows the value of the selected list item; nothing without a selection.
    void ShowSelectedValue();

    AccessPrompt* owner;
};

}  // namespace quenvar
