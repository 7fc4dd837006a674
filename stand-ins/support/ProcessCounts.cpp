#include "support/ProcessCounts.h"

#include <tlhelp32.h>

#include <cstdint>

#include "common/UniqueResource.h"

namespace quenvar::standin {

DWORD ThreadCount(DWORD processId) {
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot) return 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    DWORD count = 0;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry))
        count += entry.th32OwnerProcessID == processId;
    return count;
}

DWORD HandleCount(DWORD processId) {
    const bool self = processId == GetCurrentProcessId();
    UniqueHandle process(self ? nullptr : OpenProcess(PROCESS_DUP_HANDLE, FALSE, processId));
    if (!self && !process) return 0;
    const HANDLE source = self ? GetCurrentProcess() : process.get();
    DWORD count = 0;
    for (uintptr_t value = 4; value < 0x20000; value += 4) {
        UniqueHandle copy;
        if (DuplicateHandle(source, reinterpret_cast<HANDLE>(value), GetCurrentProcess(), copy.receive(), 0, FALSE,
                            DUPLICATE_SAME_ACCESS))
            ++count;
    }
    // Probing this process opens and closes copies of its own handles; the copy
    // in flight is not counted.
    return count;
}

}  // namespace quenvar::standin
