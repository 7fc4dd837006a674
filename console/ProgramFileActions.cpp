#include "console/ProgramFileActions.h"

#include "common/RestartRoutine.h"

namespace quenvar {

namespace {

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

}  // namespace

std::wstring JoinedText(const wchar_t* first, const std::wstring& path, const wchar_t* second) {
    return first + path + second;
}

bool ConfirmForget(HWND owner, const std::wstring& path) {
    return MessageBoxW(owner, JoinedText(kForgetFirst, path, kForgetSecond).c_str(), kAreYouSure, kQuestionFlags) ==
           IDYES;
}

void ConfirmAndDestroyFile(HWND owner, const std::wstring& path) {
    if (MessageBoxW(owner, JoinedText(kEraseFirst, path, kEraseSecond).c_str(), kAreYouSure, kQuestionFlags) != IDYES)
        return;
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileW(path.c_str())) {
        MessageBoxW(owner, JoinedText(kDeletedFirst, path, kDeletedSecond).c_str(), kDeletedTitle, MB_TOPMOST);
        return;
    }
    if (MessageBoxW(owner, JoinedText(kScheduleFirst, path, kScheduleSecond).c_str(), kScheduleTitle,
                    kQuestionFlags) != IDYES)
        return;
    if (!MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        MessageBoxW(owner, kDeniedText, kDeniedTitle, MB_ICONERROR);
        return;
    }
    if (MessageBoxW(owner, JoinedText(kRebootFirst, path, kRebootSecond).c_str(), kRebootTitle, kQuestionFlags) ==
        IDYES)
        restartRoutine();
}

}  // namespace quenvar
