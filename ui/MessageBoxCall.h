// Every message box of the user-interface program goes through showMessageBox,
// so that a test can see the text, caption, owner and flags a box is given:
// Wine draws no box topmost, whatever its flags say.
#pragma once

#include <windows.h>

namespace quenvar {

using MessageBoxFunction = int(WINAPI*)(HWND owner, LPCWSTR text, LPCWSTR caption, UINT flags);

// MessageBoxW unless a test replaced it.
extern MessageBoxFunction showMessageBox;

}  // namespace quenvar
