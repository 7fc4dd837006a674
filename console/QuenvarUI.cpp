#include <windows.h>

#include "console/Application.h"

// The command-line tail arrives as single-byte characters. The process ends
// here, before any static object is destroyed: the service link thread may
// still be using the rights store, and ExitProcess stops it first.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int) {
    ExitProcess(static_cast<UINT>(quenvar::RunQuenvarUI(instance, commandTail)));
}
