// A check for the pointers that window messages carry. A notification
// (WM_NOTIFY) is meant to come from the window's own controls, but any process
// of the desktop can send one with any value, and it is not copied between
// processes: its pointer means nothing here.
#pragma once

#include <cstddef>

namespace quenvar {

// True when all `size` bytes from `address` lie in committed memory of this
// process that may be read.
bool IsReadableMemory(const void* address, size_t size);

}  // namespace quenvar
