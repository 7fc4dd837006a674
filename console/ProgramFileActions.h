// The two file actions of the access control list, apart from its lists: the
// questions, the deletion and the reports of "Forget File" and "Destroy File".
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace quenvar {

// `first`, `path` and `second` as one text.
std::wstring JoinedText(const wchar_t* first, const std::wstring& path, const wchar_t* second);

// Asks (owned by `owner`) whether everything known about the file is to be
// forgotten; true for "Yes".
bool ConfirmForget(HWND owner, const std::wstring& path);

// The files this system installs (the program, the hook library, the service
// and the driver) and the running program's own file.
std::vector<std::wstring> OwnInstalledFiles();

// Whether both paths name one file: the same full long path (case ignored), or
// the same file of the same volume.
bool IsSameFile(const std::wstring& first, const std::wstring& second);

// Reads the attributes of each folder on the path of a file to be destroyed:
// GetFileAttributesW, unless a test stands in for a folder that is a reparse
// point, which Wine cannot make.
using FolderAttributesReader = DWORD(WINAPI*)(LPCWSTR path);
extern FolderAttributesReader folderAttributes;

// The folders that hold the file at the full path `path`, nearest first, down
// to its root ("X:\" or "\\server\share\"), which comes last; none when the
// path starts with neither.
std::vector<std::wstring> FoldersOnPath(const std::wstring& path);

// Refuses (with a message) a file that Windows File Protection covers, that
// belongs to this system, or that lies in a folder that is a reparse point;
// otherwise notes which file the path names, asks, then deletes that file
// through a handle, and a file in use may be scheduled for deletion at the
// next restart, which may then be started. When the path names another file
// after an answer, or a folder on it has become a reparse point, nothing is
// done and the user is told. The attributes are cleared only right before a
// delete the user confirmed, and restored when that delete fails.
void ConfirmAndDestroyFile(HWND owner, const std::wstring& path);

}  // namespace quenvar
