// Decisions per second through the whole system for programs with remembered
// rights, beside the bare cross-process named-pipe ping-pong on the same Wine.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "SystemSupport.h"
#include "BenchSupport.h"
#include "client/RecordSignature.h"
#include "common/UniqueResource.h"
#include "support/StandInDriverClient.h"
#include "support/WineSystem.h"

using namespace quenvar;
using namespace quenvar::bench;
using namespace quenvar::e2e;

int wmain(int argc, wchar_t** argv) {
    const uint32_t count = argc > 1 ? wcstoul(argv[1], nullptr, 10) : 5000;
    constexpr int kPrograms = 20;
    if (!InstallSystem(true)) {
        std::fprintf(stderr, "cannot install the system\n");
        return 1;
    }
    DeriveMachineKey();
    std::vector<std::wstring> kernelPaths;
    UniqueRegKey rights;
    RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Quenvar\\Lockmere\\Rights\\", 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, rights.receive(), nullptr);
    for (int i = 0; i < kPrograms; ++i) {
        const std::wstring path = MakeProgramFile(L"C:\\quenvar-bench\\program" + std::to_wstring(i) + L".exe", i);
        const Sha1Digest fingerprint = Fingerprint(path.c_str());
        const RightsRecord record = BuildRecord(0, 0x07, fingerprint.data());
        RegSetValueExW(rights.get(), path.c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>(&record),
                       sizeof(record));
        kernelPaths.push_back(KernelPath(path));
    }
    // "trace": the user-interface program starts with Wine's server trace on,
    // which turns it on for every process from then; tools/bench-calls.sh
    // counts the calls between the two marker events below.
    const bool trace = argc > 2 && std::wstring(argv[2]) == L"trace";
    if (trace) SetEnvironmentVariableW(L"WINEDEBUG", L"+server");
    PROCESS_INFORMATION ui = StartProgram(standin::WindowsFolder() + L"\\QuenvarUI.exe", L"");
    if (trace) SetEnvironmentVariableW(L"WINEDEBUG", L"-all");
    Sleep(3000);
    standin::StandInDriverClient driver;
    driver.ReadJournal();

    // Warm the caches: one event per program.
    std::vector<AccessEvent> events;
    for (int i = 0; i < kPrograms; ++i)
        events.push_back(standin::MakeEvent(i + 1, kKeyboardHook, GetCurrentProcessId(), kernelPaths[i], kernelPaths[i], 1));
    driver.Inject(events);
    driver.WaitForJournal(kPrograms, 60000);

    events.clear();
    for (uint32_t n = 0; n < count; ++n)
        events.push_back(standin::MakeEvent(1000 + n, n % 3, GetCurrentProcessId(), kernelPaths[n % kPrograms],
                                            kernelPaths[n % kPrograms], 1));
    uint32_t wrong = 0;
    UniqueHandle begin(CreateEventW(nullptr, TRUE, FALSE, L"QuenvarBenchTimedBegin"));
    const double decisions = RepliesPerSecond(driver, events, &wrong);
    UniqueHandle end(CreateEventW(nullptr, TRUE, FALSE, L"QuenvarBenchTimedEnd"));
    std::printf("processes: ui %04lx, service %04lx, benchmark %04lx (thread %04lx)\n", ui.dwProcessId,
                standin::ServiceProcessId(L"QuenvarSvc"), GetCurrentProcessId(), GetCurrentThreadId());
    EndProgram(ui);
    // Every program is remembered as allowed for every kind: anything but an
    // allow means the run measured something else.
    if (wrong != 0) {
        std::fprintf(stderr, "%u of %u replies were not an allow for their event\n", wrong, count);
        return 1;
    }
    const double bare = BarePipeRate(count);
    std::printf("decisions through the whole system: %.0f per second (%u events, remembered rights)\n", decisions,
                count);
    std::printf("bare named pipe ping-pong, two processes: %.0f round trips per second\n", bare);
    Figure("decisions", decisions);
    return 0;
}
