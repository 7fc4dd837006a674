#include "client/ProgramDetailsDialog.h"

#include "client/AccessPrompt.h"
#include "client/RichTextView.h"
#include "resources/ResourceIds.h"

namespace quenvar {

namespace {

constexpr COLORREF kCaptionBlue = 0x00FF0000;

}  // namespace

const ProgramDetailsItem kProgramDetailsItems[kProgramDetailsItemCount] = {
    {L"File Name", kItemFileNameText},
    {L"File Description", kItemFileDescriptionText},
    {L"File Comments", kItemFileCommentsText},
    {L"File Version", kItemFileVersionText},
    {L"Company Name", kItemCompanyNameText},
    {L"Copyright", kItemCopyrightText},
    {L"Product Name", kItemProductNameText},
    {L"Product Version", kItemProductVersionText},
};

ProgramDetailsDialog::ProgramDetailsDialog(AccessPrompt* owner, int moreInfoId)
    : ModelessDialog(kProgramDetailsTemplate, nullptr), owner(owner) {
    if (moreInfoId != 0) RichTextView(GetItem(IDC_DETAILS_MORE_TEXT)).ShowResource(moreInfoId, owner->values);
    HWND list = GetItem(IDC_LIST);
    for (const ProgramDetailsItem& item : kProgramDetailsItems)
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.name));
    SendMessageW(list, LB_SETCURSEL, 0, 0);
    ShowSelectedValue();
}

ProgramDetailsDialog::~ProgramDetailsDialog() = default;

INT_PTR ProgramDetailsDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && HIWORD(wParam) == LBN_SELCHANGE) {
        ShowSelectedValue();
        return TRUE;
    }
    if (message == WM_CTLCOLORSTATIC) {
        if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) != IDC_DETAILS_GROUP) return FALSE;
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, kCaptionBlue);
        SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
    }
    return ModelessDialog::HandleMessage(message, wParam, lParam);
}

bool ProgramDetailsDialog::OnClose() {
    Hide();
    return false;
}

void ProgramDetailsDialog::OnCommand(int /*controlId*/, HWND /*controlWindow*/) { Hide(); }

void ProgramDetailsDialog::ShowSelectedValue() {
    const LRESULT index = SendMessageW(GetItem(IDC_LIST), LB_GETCURSEL, 0, 0);
    if (index < 0 || index >= kProgramDetailsItemCount) return;
    RichTextView(GetItem(IDC_DETAILS_VALUE)).ShowResource(kProgramDetailsItems[index].resourceId, owner->values);
}

}  // namespace quenvar
