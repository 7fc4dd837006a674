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

// Events per second: inject, pump, queue, worker, pipe, a client process that
// replies at once, and the reply back in the driver.
double ServicePathRate(StandInDriverClient& driver, uint32_t count) {
    PROCESS_INFORMATION peer = StartPipePeer(kPipeName, count, true);
    UniqueHandle peerProcess(peer.hProcess), peerThread(peer.hThread);
    // The client is attached when the service has answered its hello.
    Sleep(1500);
    std::vector<AccessEvent> events;
    for (uint32_t id = 1; id <= count; ++id)
        events.push_back(MakeEvent(id, kKeyboardHook, GetCurrentProcessId(), L"\\Device\\HarddiskVolume1\\bench.exe",
                                   L"\\Device\\HarddiskVolume1\\bench.exe", 1));
    uint32_t wrong = 0;
    const double rate = RepliesPerSecond(driver, events, &wrong);
    DWORD exitCode = 1;
    WaitForSingleObject(peerProcess.get(), 10000);
    GetExitCodeProcess(peerProcess.get(), &exitCode);
    if (wrong != 0 || exitCode != 0) {
        std::fprintf(stderr, "service path: %u replies were not the client's allow; client exit %lu\n", wrong,
                     exitCode);
        return 0;
    }
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
    const uint32_t count = argc > 1 ? wcstoul(argv[1], nullptr, 10) : 10000;
    const uint32_t queued = argc > 2 ? wcstoul(argv[2], nullptr, 10) : 6000;
    if (!InstallStandInDriver(Built(L"QuenvarStandInDriver.sys"))) {
        std::fprintf(stderr, "cannot install the driver\n");
        return 1;
    }
    StandInDriverClient driver;
    // The stages alone: the driver with no service running, then the pipe.
    const DriverLoop loop = DriverLoopRate(driver, count);
    const double bare = BarePipeRate(count);

    if (!InstallProtectionService(Built(L"QuenvarSvc.exe")) || !StartNamedService(L"QuenvarSvc") ||
        !WaitForPipe(kPipeName, 20000)) {
        std::fprintf(stderr, "cannot install the service\n");
        return 1;
    }
    driver.WaitForJournal(1, 5000);  // the registration
    const double path = ServicePathRate(driver, count);

    // The service is a pipeline: the pump fetches (wait, get) while the worker
    // sends, awaits the answer and replies to the driver. Its bound is the rate
    // of its slower stage, each stage timed alone.
    const double pumpStage = loop.fetchSeconds;
    const double workerStage = 1.0 / bare + loop.replySeconds;
    const double bound = 1.0 / std::max(pumpStage, workerStage);
    std::printf("bare driver loop (wait, get, reply; no service): %.0f per second; fetch %.0f us, reply %.0f us\n",
                loop.rate, loop.fetchSeconds * 1e6, loop.replySeconds * 1e6);
    std::printf("bare named pipe ping-pong, two processes:       %.0f round trips per second (%.0f us)\n", bare,
                1e6 / bare);
    std::printf("bound = 1 / max(pump stage = fetch, worker stage = pipe round trip + reply) = 1 / max(%.0f, %.0f) us"
                " = %.0f per second\n",
                pumpStage * 1e6, workerStage * 1e6, bound);
    // Under Wine one server thread answers every call of every stage, so the
    // stages cannot overlap there: their sum is what Wine leaves.
    const double serial = 1.0 / (pumpStage + workerStage);
    std::printf("stages one after another = 1 / (%.0f + %.0f) us = %.0f per second\n", pumpStage * 1e6,
                workerStage * 1e6, serial);
    std::printf("events through the service path:                %.0f per second (%u events)\n", path, count);
    std::printf("ratio service path / bound:                     %.2f (to the stages one after another: %.2f)\n",
                path / bound, path / serial);
    Figure("pipe", bare);
    Figure("driver", loop.rate);
    Figure("fetch_us", loop.fetchSeconds * 1e6);
    Figure("reply_us", loop.replySeconds * 1e6);
    Figure("bound", bound);
    Figure("service", path);
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
    const double perEvent = (double(after) - double(before)) / kept;
    std::printf("memory per kept event: %.0f bytes (the event itself is %u bytes)\n", perEvent,
                static_cast<unsigned>(sizeof(AccessEvent)));
    Figure("memory_per_event", perEvent);
    return 0;
}
