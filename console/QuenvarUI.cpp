#include <windows.h>

#include "console/Application.h"

// The command-line tail arrives as single-byte characters.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int) {
    return quenvar::RunQuenvarUI(instance, commandTail);
}
