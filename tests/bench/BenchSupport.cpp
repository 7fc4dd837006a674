#include "BenchSupport.h"

#include <thread>

#include "common/DriverInterface.h"

namespace quenvar::bench {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return double(to.QuadPart - from.QuadPart) / double(f.QuadPart);
}

LARGE_INTEGER Now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t;
}

double RepliesPerSecond(standin::StandInDriverClient& driver, const std::vector<AccessEvent>& events) {
    const LARGE_INTEGER start = Now();
    driver.Inject(events);
    size_t replies = 0;
    while (replies < events.size()) {
        replies += driver.ReadJournal().size();
        Sleep(1);
    }
    return events.size() / Seconds(start, Now());
}

// Round trips per second of a 1068-byte message down and an 8-byte reply up
// through a pipe with the service's modes and buffers.
double BarePipeRate(uint32_t count) {
    const wchar_t* name = L"\\\\.\\pipe\\QuenvarBenchBare";
    HANDLE server = CreateNamedPipeW(name, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_BYTE | PIPE_WAIT,
                                     PIPE_UNLIMITED_INSTANCES, 1024, 1024, 60000, nullptr);
    std::thread peer([&] {
        HANDLE client = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        AccessEvent event;
        AccessReply reply = {0, 1};
        DWORD moved;
        for (uint32_t i = 0; i < count; ++i) {
            if (!ReadFile(client, &event, sizeof(event), &moved, nullptr)) break;
            reply.eventId = event.eventId;
            WriteFile(client, &reply, sizeof(reply), &moved, nullptr);
        }
        CloseHandle(client);
    });
    ConnectNamedPipe(server, nullptr);
    AccessEvent event = {};
    AccessReply reply;
    DWORD moved;
    const LARGE_INTEGER start = Now();
    for (uint32_t i = 0; i < count; ++i) {
        event.eventId = i;
        WriteFile(server, &event, sizeof(event), &moved, nullptr);
        ReadFile(server, &reply, sizeof(reply), &moved, nullptr);
    }
    const LARGE_INTEGER end = Now();
    peer.join();
    CloseHandle(server);
    return count / Seconds(start, end);
}

}  // namespace quenvar::bench
