#include "ui/MainLoop.h"

#include <windows.h>

namespace quenvar {
namespace {

// Per thread: only a window procedure of the loop's own thread ends it.
thread_local bool endRequested = false;

}  // namespace

void RunMainLoop(void (*onForeignQuit)()) {
    bool foreignQuitSeen = false;
    MSG message;
    for (;;) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == -1) return;
        if (got == 0) {
            if (endRequested) return;
            if (!foreignQuitSeen && onForeignQuit != nullptr) onForeignQuit();
            foreignQuitSeen = true;
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void EndMainLoop() {
    endRequested = true;
    PostQuitMessage(0);
}

}  // namespace quenvar
