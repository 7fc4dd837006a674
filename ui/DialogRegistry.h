// The process-wide table from dialog window to its ModelessDialog object, the
// only way from a window handle back to its object. Used by the window thread
// and the service link thread at once, so every access is under one lock; the
// lock is never held while an object is called.
#pragma once

#include <windows.h>

namespace quenvar {

class ModelessDialog;

class DialogRegistry {
public:
    static void Add(HWND window, ModelessDialog* dialog);
    static void Remove(HWND window);
    // Null when the window has no entry.
    static ModelessDialog* Find(HWND window);
    static size_t Count();
};

}  // namespace quenvar
