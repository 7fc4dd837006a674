// The client side of the benchmarks' cross-process pipe runs: connects as the
// user-interface program does and answers every 1068-byte event at once with an
// 8-byte allow.
//   BarePipePeer.exe PIPE_NAME COUNT [hello]
// With "hello" it first introduces itself by process id and reads the 4-byte
// status, as a client of the service must.
#include <windows.h>

#include <cwchar>

#include "common/DriverInterface.h"
#include "common/PipeProtocol.h"

using namespace quenvar;

namespace {

bool ReadExactly(HANDLE pipe, void* data, DWORD size) {
    DWORD moved = 0;
    return ReadFile(pipe, data, size, &moved, nullptr) && moved == size;
}

bool WriteExactly(HANDLE pipe, const void* data, DWORD size) {
    DWORD moved = 0;
    return WriteFile(pipe, data, size, &moved, nullptr) && moved == size;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    const uint32_t count = wcstoul(argv[2], nullptr, 10);
    const bool hello = argc > 3 && wcscmp(argv[3], L"hello") == 0;
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 200 && pipe == INVALID_HANDLE_VALUE; ++attempt) {
        pipe = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (pipe == INVALID_HANDLE_VALUE) Sleep(50);
    }
    if (pipe == INVALID_HANDLE_VALUE) return 3;
    if (hello) {
        const uint32_t self = GetCurrentProcessId();
        uint32_t status = 0;
        if (!WriteExactly(pipe, &self, sizeof(self)) || !ReadExactly(pipe, &status, sizeof(status))) return 4;
        if (status != ExpectedDriverStatus) return 5;
    }
    AccessEvent event;
    for (uint32_t i = 0; i < count; ++i) {
        if (!ReadExactly(pipe, &event, sizeof(event))) return 6;
        const AccessReply reply = {event.eventId, 1};
        if (!WriteExactly(pipe, &reply, sizeof(reply))) return 6;
    }
    // Leave only after the last reply has been taken.
    Sleep(300);
    CloseHandle(pipe);
    return 0;
}
