// Resource ids of QuenvarUI: dialog templates, their controls, strings and
// icons. Read by the resource compiler and by C++ alike, hence plain macros;
// C++ code uses the constants below.
#pragma once

// Dialog templates.
#define IDD_MAIN_WINDOW 103
#define IDD_ACCESS_PROMPT 104
#define IDD_PROGRAM_DETAILS 111
#define IDD_LOG_PAGE 142
#define IDD_ACCESS_CONTROL_PAGE 143

// Controls. Ids repeat between templates; each is unique within its own.
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
#define IDC_OKAY 1
#define IDC_DONE 1
#define IDC_ALLOW_ACCESS 6
#define IDC_DENY_ACCESS 7
#define IDC_PROMPT_TEXT 1008
#define IDC_DETAILS_VALUE 1009
#define IDC_MORE_INFORMATION 1011
#define IDC_DETAILS_MORE_TEXT 1013
#define IDC_DETAILS_ITEM_LABEL 1015
#define IDC_DETAILS_VALUE_LABEL 1016
#define IDC_LIST 1017
#define IDC_DETAILS_GROUP 1019
#define IDC_TAB_CONTROL 1029
#define IDC_CLEAR_LOG 1031
#define IDC_FORGET_FILE 1031
#define IDC_DETAILS_LIST 1032
#define IDC_DESTROY_FILE 1033

// String table.
#define IDS_TAB_LOG 200
#define IDS_TAB_ACCESS_CONTROL 201
#define IDS_BREACH_SCREEN 300
#define IDS_BREACH_KEYBOARD 301
#define IDS_BREACH_WINDOW_TEXT 302

// Icons.
#define IDI_TRAY 124

// Rich-text documents (type "BINARYRTF"): the access prompt's texts, the
// More Information texts and the Program Details item values.
#define IDR_SCREEN_ACCESS_PROMPT 110
#define IDR_SCREEN_ACCESS_MORE_INFO 115
#define IDR_KEYBOARD_HOOK_PROMPT 118
#define IDR_KEYBOARD_HOOK_MORE_INFO 119
#define IDR_WINDOW_TEXT_PROMPT 146
#define IDR_WINDOW_TEXT_MORE_INFO 147
#define IDR_ITEM_FILE_VERSION 126
#define IDR_ITEM_COMPANY_NAME 135
#define IDR_ITEM_FILE_COMMENTS 136
#define IDR_ITEM_FILE_DESCRIPTION 137
#define IDR_ITEM_FILE_NAME 138
#define IDR_ITEM_COPYRIGHT 139
#define IDR_ITEM_PRODUCT_NAME 140
#define IDR_ITEM_PRODUCT_VERSION 141

#ifndef RC_INVOKED
namespace quenvar {

constexpr int kMainWindowTemplate = IDD_MAIN_WINDOW;
constexpr int kAccessPromptTemplate = IDD_ACCESS_PROMPT;
constexpr int kProgramDetailsTemplate = IDD_PROGRAM_DETAILS;
constexpr int kLogPageTemplate = IDD_LOG_PAGE;
constexpr int kAccessControlPageTemplate = IDD_ACCESS_CONTROL_PAGE;

constexpr int kTrayIconId = IDI_TRAY;

constexpr int kScreenAccessPromptText = IDR_SCREEN_ACCESS_PROMPT;
constexpr int kScreenAccessMoreInfoText = IDR_SCREEN_ACCESS_MORE_INFO;
constexpr int kKeyboardHookPromptText = IDR_KEYBOARD_HOOK_PROMPT;
constexpr int kKeyboardHookMoreInfoText = IDR_KEYBOARD_HOOK_MORE_INFO;
constexpr int kWindowTextPromptText = IDR_WINDOW_TEXT_PROMPT;
constexpr int kWindowTextMoreInfoText = IDR_WINDOW_TEXT_MORE_INFO;
constexpr int kItemFileVersionText = IDR_ITEM_FILE_VERSION;
constexpr int kItemCompanyNameText = IDR_ITEM_COMPANY_NAME;
constexpr int kItemFileCommentsText = IDR_ITEM_FILE_COMMENTS;
constexpr int kItemFileDescriptionText = IDR_ITEM_FILE_DESCRIPTION;
constexpr int kItemFileNameText = IDR_ITEM_FILE_NAME;
constexpr int kItemCopyrightText = IDR_ITEM_COPYRIGHT;
constexpr int kItemProductNameText = IDR_ITEM_PRODUCT_NAME;
constexpr int kItemProductVersionText = IDR_ITEM_PRODUCT_VERSION;

}  // namespace quenvar
#endif
