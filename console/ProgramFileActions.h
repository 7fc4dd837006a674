// The two file actions of the access control list, apart from its lists: the
// questions, the deletion and the reports of "Forget File" and "Destroy File".
#pragma once

#include <windows.h>

#include <string>

namespace quenvar {

// `first`, `path` and `second` as one text.
std::wstring JoinedText(const wchar_t* first, const std::wstring& path, const wchar_t* second);

// Asks (owned by `owner`) whether everything known about the file is to be
// forgotten; true for "Yes".
bool ConfirmForget(HWND owner, const std::wstring& path);

// Asks, then deletes the file; a file in use may be scheduled for deletion at
// the next restart, which may then be started.
void ConfirmAndDestroyFile(HWND owner, const std::wstring& path);

}  // namespace quenvar
