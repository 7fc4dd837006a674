#include "BenchSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "common/DriverInterface.h"
#include "common/UniqueResource.h"
#include "support/WineSystem.h"

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

std::wstring Built(const wchar_t* name) {
    const char* bin = std::getenv("QUENVAR_BIN");
    return standin::WinePath(bin ? bin : ".") + L"\\" + name;
}

void Figure(const char* name, double value) {
    std::printf("figure %s %.4f\n", name, value);
    std::fflush(stdout);
}

double RepliesPerSecond(standin::StandInDriverClient& driver, const std::vector<AccessEvent>& events,
                        uint32_t* notAllowed) {
    constexpr size_t kWave = 1000;
    constexpr size_t kMostWaiting = 3000;
    size_t injected = 0;
    size_t replies = 0;
    *notAllowed = 0;
    const LARGE_INTEGER start = Now();
    DWORD lastProgress = GetTickCount();
    while (replies < events.size()) {
        if (GetTickCount() - lastProgress > 30000) {
            std::fprintf(stderr, "no reply for 30 s: %u of %u answered\n", unsigned(replies),
                         unsigned(events.size()));
            return 0;
        }
        while (injected < events.size() && injected - replies + kWave <= kMostWaiting) {
            const size_t n = std::min(kWave, events.size() - injected);
            driver.Inject(std::vector<AccessEvent>(events.begin() + injected, events.begin() + injected + n));
            injected += n;
        }
        for (const JournalEntry& entry : driver.ReadJournal()) {
            if (entry.kind != JOURNAL_REPLY) continue;
            const AccessReply reply = standin::ReplyOf(entry);
            // Event ids are the events' positions plus the caller's base; an
            // answer to another event, or a denial, counts against the run.
            if (reply.allow != 1 || replies >= events.size() || reply.eventId != events[replies].eventId)
                ++*notAllowed;
            ++replies;
            lastProgress = GetTickCount();
        }
        Sleep(1);
    }
    return events.size() / Seconds(start, Now());
}

PROCESS_INFORMATION StartPipePeer(const wchar_t* pipeName, uint32_t count, bool hello) {
    std::wstring command = L"\"" + Built(L"BarePipePeer.exe") + L"\" " + pipeName + L" " + std::to_wstring(count);
    if (hello) command += L" hello";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        std::fprintf(stderr, "cannot start BarePipePeer.exe (%lu)\n", GetLastError());
    return process;
}

namespace {

// One overlapped transfer waited on its event, as the service's pipe channel does.
bool Transfer(HANDLE pipe, HANDLE done, void* buffer, DWORD size, bool write) {
    OVERLAPPED overlapped = {};
    overlapped.hEvent = done;
    const BOOL started = write ? WriteFile(pipe, buffer, size, nullptr, &overlapped)
                               : ReadFile(pipe, buffer, size, nullptr, &overlapped);
    if (!started && GetLastError() != ERROR_IO_PENDING) return false;
    if (!started && WaitForSingleObject(done, INFINITE) != WAIT_OBJECT_0) return false;
    DWORD moved = 0;
    return GetOverlappedResult(pipe, &overlapped, &moved, FALSE) && moved == size;
}

}  // namespace

double BarePipeRate(uint32_t count) {
    const wchar_t* name = L"\\\\.\\pipe\\QuenvarBenchBare";
    UniqueHandle server(CreateNamedPipeW(name, PIPE_ACCESS_DUPLEX | WRITE_DAC | FILE_FLAG_OVERLAPPED,
                                         PIPE_TYPE_MESSAGE | PIPE_READMODE_BYTE | PIPE_WAIT,
                                         PIPE_UNLIMITED_INSTANCES, 1024, 1024, 60000, nullptr));
    UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!server || !done) return 0;
    PROCESS_INFORMATION peer = StartPipePeer(name, count, false);
    UniqueHandle peerProcess(peer.hProcess), peerThread(peer.hThread);
    OVERLAPPED connect = {};
    connect.hEvent = done.get();
    if (!ConnectNamedPipe(server.get(), &connect)) {
        const DWORD error = GetLastError();
        DWORD moved = 0;
        if (error == ERROR_IO_PENDING) GetOverlappedResult(server.get(), &connect, &moved, TRUE);
        else if (error != ERROR_PIPE_CONNECTED) return 0;
    }
    AccessEvent event = {};
    AccessReply reply;
    uint32_t moved = 0;
    const LARGE_INTEGER start = Now();
    for (uint32_t i = 0; i < count; ++i, ++moved) {
        event.eventId = i;
        if (!Transfer(server.get(), done.get(), &event, sizeof(event), true) ||
            !Transfer(server.get(), done.get(), &reply, sizeof(reply), false) || reply.eventId != i)
            break;
    }
    const LARGE_INTEGER end = Now();
    const DWORD error = GetLastError();
    WaitForSingleObject(peerProcess.get(), 10000);
    if (moved != count) {
        DWORD peerExit = 0;
        GetExitCodeProcess(peerProcess.get(), &peerExit);
        std::fprintf(stderr, "bare pipe: %u of %u round trips (error %lu, client exit %lu)\n", moved, count, error,
                     peerExit);
        return 0;
    }
    return count / Seconds(start, end);
}

DriverLoop DriverLoopRate(standin::StandInDriverClient& driver, uint32_t count) {
    std::vector<AccessEvent> events;
    for (uint32_t id = 1; id <= count; ++id)
        events.push_back(standin::MakeEvent(id, kKeyboardHook, GetCurrentProcessId(),
                                            L"\\Device\\HarddiskVolume1\\bench.exe",
                                            L"\\Device\\HarddiskVolume1\\bench.exe", 1));
    driver.Inject(events);
    // The service's own way in: its own handle on the device.
    UniqueHandle device(CreateFileW(L"\\\\.\\Global\\Quenvar", GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    AccessEvent event;
    double fetch = 0, reply = 0;
    uint32_t done = 0;
    const LARGE_INTEGER start = Now();
    for (; done < count; ++done) {
        DWORD returned = 0;
        const LARGE_INTEGER a = Now();
        DeviceIoControl(device.get(), IOCTL_WAIT_EVENT, nullptr, 0, nullptr, 0, &returned, nullptr);
        if (!DeviceIoControl(device.get(), IOCTL_GET_EVENT, nullptr, 0, &event, sizeof(event), &returned, nullptr))
            break;
        const LARGE_INTEGER b = Now();
        AccessReply answer = {event.eventId, 1};
        DeviceIoControl(device.get(), IOCTL_REPLY, &answer, sizeof(answer), nullptr, 0, &returned, nullptr);
        const LARGE_INTEGER c = Now();
        fetch += Seconds(a, b);
        reply += Seconds(b, c);
    }
    const double seconds = Seconds(start, Now());
    driver.WaitForJournal(done, 10000);  // the replies, read away
    if (done != count) std::fprintf(stderr, "driver loop: %u of %u events\n", done, count);
    return {done / seconds, fetch / done, reply / done};
}

}  // namespace quenvar::bench
