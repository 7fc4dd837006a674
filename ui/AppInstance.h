// The module through which every icon, string and dialog template of the
// user-interface program is loaded.
#pragma once

#include <windows.h>

namespace quenvar {

// Set by WinMain before anything loads a resource; tests set their own module.
extern HINSTANCE appInstance;

}  // namespace quenvar
