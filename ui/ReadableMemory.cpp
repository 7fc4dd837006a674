#include "ui/ReadableMemory.h"

#include <windows.h>

#include <cstdint>

namespace quenvar {

namespace {

constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                            PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

}  // namespace

bool IsReadableMemory(const void* address, size_t size) {
    if (address == nullptr || size == 0) return false;
    const uintptr_t first = reinterpret_cast<uintptr_t>(address);
    const uintptr_t last = first + size - 1;
    if (last < first) return false;  // the range wraps around
    uintptr_t at = first;
    for (;;) {
        MEMORY_BASIC_INFORMATION region = {};
        if (VirtualQuery(reinterpret_cast<const void*>(at), &region, sizeof(region)) == 0) return false;
        if (region.State != MEM_COMMIT || (region.Protect & kReadable) == 0 || (region.Protect & PAGE_GUARD) != 0)
            return false;
        const uintptr_t end = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
        if (end == 0 || end > last) return true;  // the region reaches past the range (or to the top)
        at = end;
    }
}

}  // namespace quenvar
