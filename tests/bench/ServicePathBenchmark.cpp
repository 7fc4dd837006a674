// Throughput of the service's whole event path, beside a bare named pipe with the
// same message sizes, and the service's memory per queued event. Runs in a
// fresh Wine prefix (tools/bench-service.sh) with the stand-in driver.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "common/PipeProtocol.h"
#include "common/UniqueResource.h"
#include "service/Session.h"
#include "support/ServicePipeClient.h"
#include "support/StandInDriverClient.h"
#include "support/WineSystem.h"

using namespace quenvar;
using namespace quenvar::standin;

using namespace quenvar::bench;

namespace {

std::wstring Built(const wchar_t* name) {
    const char* bin = std::getenv("QUENVAR_BIN");
    return WinePath(bin ? bin : ".") + L"\\" + name;
}

// Events per second: inject, pump, queue, worker, pipe, a client that replies at
// once, and the reply back in the driver.
double ServicePathRate(StandInDriverClient& driver, uint32_t count) {
    std::atomic<uint32_t> answered{0};
    std::thread client([&] {
        ServiceClient pipe;
        if (pipe.Hello() != ExpectedDriverStatus) return;
        while (answered < count) {
            auto event = pipe.ReadEvent();
            if (!event || !pipe.WriteReply(event->eventId, 1)) return;
            ++answered;
        }
        Sleep(300);  // leave after the last reply has gone
    });
    Sleep(500);  // the client is attached
    std::vector<AccessEvent> events;
    for (uint32_t id = 1; id <= count; ++id)
        events.push_back(MakeEvent(id, kKeyboardHook, GetCurrentProcessId(), L"\\Device\\HarddiskVolume1\\bench.exe",
                                   L"\\Device\\HarddiskVolume1\\bench.exe", 1));
    const double rate = RepliesPerSecond(driver, events);
    client.join();
    return rate;
}

// Connections per second: connect, hello, status, close, one after another.
double ConnectionRate(uint32_t count) {
    const LARGE_INTEGER start = Now();
    uint32_t served = 0;
    for (uint32_t i = 0; i < count; ++i) {
        ServiceClient client;
        if (client.Hello() == ExpectedDriverStatus) ++served;
    }
    const double seconds = Seconds(start, Now());
    if (served != count) std::fprintf(stderr, "%u of %u connections got no status\n", count - served, count);
    return count / seconds;
}

SIZE_T CommittedBytes(DWORD processId) {
    UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(process.get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters));
    // Wine fills no PrivateUsage for another process; PagefileUsage is its
    // committed private memory there as on Windows.
    return counters.PagefileUsage;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const uint32_t count = argc > 1 ? wcstoul(argv[1], nullptr, 10) : 20000;
    const uint32_t queued = argc > 2 ? wcstoul(argv[2], nullptr, 10) : 100000;
    if (!InstallStandInDriver(Built(L"QuenvarStandInDriver.sys")) ||
        !InstallProtectionService(Built(L"QuenvarSvc.exe")) || !StartNamedService(L"QuenvarSvc") ||
        !WaitForPipe(kPipeName, 20000)) {
        std::fprintf(stderr, "cannot install the driver and the service\n");
        return 1;
    }
    StandInDriverClient driver;
    driver.WaitForJournal(1, 5000);  // the registration

    const double path = ServicePathRate(driver, count);
    const double bare = BarePipeRate(count);
    std::printf("events through the service path: %.0f per second (%u events)\n", path, count);
    std::printf("bare named pipe ping-pong:       %.0f round trips per second\n", bare);
    std::printf("ratio service path / bare pipe:  %.2f\n", path / bare);
    Sleep(1000);  // the benchmark client has left
    const uint32_t connections = count / 10;
    std::printf("connections (hello, status, close): %.0f per second (%u connections)\n",
                ConnectionRate(connections), connections);

    // Memory: a session with no client keeps its newest keyboard-hook events
    // queued, up to the bound; older ones are denied to the driver.
    Sleep(1000);
    const DWORD service = ServiceProcessId(L"QuenvarSvc");
    const SIZE_T before = CommittedBytes(service);
    const uint32_t deliveredBefore = driver.QueryState().deliveredEvents;
    std::vector<AccessEvent> events;
    for (uint32_t id = 1; id <= queued; ++id)
        events.push_back(MakeEvent(1000000 + id, kKeyboardHook, GetCurrentProcessId(),
                                   L"\\Device\\HarddiskVolume1\\waiting.exe", L"\\Device\\HarddiskVolume1\\waiting.exe", 1));
    driver.Inject(events);
    while (driver.QueryState().deliveredEvents < deliveredBefore + queued) Sleep(50);
    Sleep(500);
    const SIZE_T after = CommittedBytes(service);
    const uint32_t kept = std::min<uint32_t>(queued, static_cast<uint32_t>(Session::kQueueBound));
    std::printf("service committed memory: %.1f MB before, %.1f MB with %u events injected (%u kept queued)\n",
                before / 1048576.0, after / 1048576.0, queued, kept);
    std::printf("memory per kept event: %.0f bytes (the event itself is %u bytes)\n",
                (double(after) - double(before)) / kept, static_cast<unsigned>(sizeof(AccessEvent)));
    return 0;
}
