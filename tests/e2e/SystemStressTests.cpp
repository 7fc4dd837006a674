// Many events of programs with remembered rights through the whole system.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "E2eSupport.h"
#include "SystemSupport.h"
#include "client/RecordSignature.h"
#include "common/UniqueResource.h"
#include "support/StandInDriverClient.h"
#include "support/WineSystem.h"

using namespace quenvar;
using namespace quenvar::e2e;
using standin::MakeEvent;
using standin::ReplyOf;

namespace {

constexpr int kPrograms = 50;
constexpr uint32_t kEvents = 10000;


// Wine reports no handle count for a process (GetProcessHandleCount gives 0),
// so every possible handle value of the process is tried with DuplicateHandle.
DWORD HandleCount(DWORD processId) {
    HANDLE process = OpenProcess(PROCESS_DUP_HANDLE, FALSE, processId);
    DWORD count = 0;
    for (uintptr_t value = 4; value < 0x20000; value += 4) {
        HANDLE copy = nullptr;
        if (DuplicateHandle(process, reinterpret_cast<HANDLE>(value), GetCurrentProcess(), &copy, 0, FALSE,
                            DUPLICATE_SAME_ACCESS)) {
            ++count;
            CloseHandle(copy);
        }
    }
    CloseHandle(process);
    return count;
}

}  // namespace

TEST(SystemStress, TenThousandEventsOfFiftyRememberedProgramsAreEachAnsweredOnce) {
    ASSERT_TRUE(InstallSystem(true));
    // Every even program is allowed everything, every odd one denied everything.
    DeriveMachineKey();
    std::vector<std::wstring> programs;
    {
        UniqueRegKey rights;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Quenvar\\Lockmere\\Rights\\", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, rights.receive(), nullptr),
                  ERROR_SUCCESS);
        for (int i = 0; i < kPrograms; ++i) {
            const std::wstring path =
                MakeProgramFile(L"C:\\quenvar-stress\\program" + std::to_wstring(i) + L".exe", 100 + i);
            const Sha1Digest fingerprint = Fingerprint(path.c_str());
            const RightsRecord record = BuildRecord(i % 2 ? 0x07 : 0, i % 2 ? 0 : 0x07, fingerprint.data());
            RegSetValueExW(rights.get(), path.c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>(&record),
                           sizeof(record));
            programs.push_back(path);
        }
    }
    PROCESS_INFORMATION ui = StartProgram(standin::WindowsFolder() + L"\\QuenvarUI.exe", L"");
    ASSERT_NE(ui.hProcess, nullptr);
    Sleep(3000);
    HWND mainWindow = MainWindowOf(ui.dwProcessId);
    ASSERT_NE(mainWindow, nullptr);

    standin::StandInDriverClient driver;
    driver.ReadJournal();
    // One warm-up event, so that the handle count is taken with the caches built.
    ASSERT_TRUE(driver.Inject(MakeEvent(1, kScreenAccess, GetCurrentProcessId(), KernelPath(programs[0]),
                                        KernelPath(programs[0]), 1)));
    ASSERT_EQ(driver.WaitForJournal(1, 20000).size(), 1u);
    const DWORD handlesBefore = HandleCount(ui.dwProcessId);
    ASSERT_GT(handlesBefore, 0u);

    std::vector<AccessEvent> events;
    std::map<uint32_t, uint32_t> expected;
    // Runs of twenty identical events, as a program repeating itself gives them.
    for (uint32_t n = 0; n < kEvents; ++n) {
        const int program = static_cast<int>((n / 20) % kPrograms);
        const uint32_t id = 100 + n;
        events.push_back(MakeEvent(id, (n / 1000) % 3, GetCurrentProcessId(), KernelPath(programs[program]),
                                   KernelPath(programs[program]), n));
        expected[id] = program % 2 ? 0 : 1;
    }

    // Fed in chunks, at most two thousand waiting at once: a session's queue is
    // bounded, and a burst beyond the bound is denied by design.
    constexpr size_t kChunk = 1000;
    size_t injected = 0;
    std::vector<JournalEntry> journal;
    DWORD slowest = 0;
    const DWORD start = GetTickCount();
    while (journal.size() < kEvents && GetTickCount() - start < 300000) {
        if (injected < events.size() && injected - journal.size() < 2 * kChunk) {
            const size_t end = std::min(events.size(), injected + kChunk);
            ASSERT_TRUE(driver.Inject(std::vector<AccessEvent>(events.begin() + injected, events.begin() + end)));
            injected = end;
        }
        const auto more = driver.ReadJournal();
        journal.insert(journal.end(), more.begin(), more.end());
        // The window thread keeps answering while the service link thread works.
        const DWORD before = GetTickCount();
        DWORD_PTR result = 0;
        EXPECT_NE(SendMessageTimeoutW(mainWindow, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result), 0);
        slowest = std::max(slowest, GetTickCount() - before);
        Sleep(100);
    }
    std::printf("%u replies in %lu ms; slowest window round trip %lu ms\n", static_cast<unsigned>(journal.size()),
                GetTickCount() - start, slowest);
    ASSERT_EQ(journal.size(), kEvents);
    std::set<uint32_t> seen;
    for (const JournalEntry& entry : journal) {
        const AccessReply reply = ReplyOf(entry);
        ASSERT_TRUE(expected.count(reply.eventId)) << reply.eventId;
        EXPECT_TRUE(seen.insert(reply.eventId).second) << "answered twice: " << reply.eventId;
        EXPECT_EQ(reply.allow, expected[reply.eventId]) << reply.eventId;
    }
    EXPECT_LT(slowest, 2000u);

    const DWORD handlesAfter = HandleCount(ui.dwProcessId);
    std::printf("handles of QuenvarUI: %lu before, %lu after\n", handlesBefore, handlesAfter);
    EXPECT_LE(handlesAfter, handlesBefore + 5);

    // Bursts of denials fold into rows of "(N times)".
    const auto rows = ReadLogRows(ui.dwProcessId);
    size_t folded = 0, denialRows = 0;
    for (const auto& row : rows) {
        if (row.second.rfind(L"Blocked ", 0) != 0) continue;
        ++denialRows;
        folded += row.second.find(L" times)") != std::wstring::npos;
    }
    std::printf("%zu log rows for %u denials, %zu of them folded\n", denialRows, kEvents / 2, folded);
    EXPECT_LT(denialRows, static_cast<size_t>(kEvents / 2));
    EXPECT_GT(folded, 0u);
    EndProgram(ui);
}

// The quit message ends the program while the service link thread is busy
// with a stream of events: the exit must be orderly every time, with code 0.
TEST(SystemOrderlyExit, QuitMessagesWhileEventsStreamEndTheProgramWithCodeZero) {
    ASSERT_TRUE(InstallSystem(true));
    DeriveMachineKey();
    const std::wstring program = MakeProgramFile(L"C:\\quenvar-exit\\streamer.exe", 7);
    {
        UniqueRegKey rights;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Quenvar\\Lockmere\\Rights\\", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, rights.receive(), nullptr),
                  ERROR_SUCCESS);
        const Sha1Digest fingerprint = Fingerprint(program.c_str());
        const RightsRecord record = BuildRecord(0x02, 0x05, fingerprint.data());  // hooks denied: logged
        RegSetValueExW(rights.get(), program.c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>(&record),
                       sizeof(record));
    }
    standin::StandInDriverClient driver;
    ASSERT_TRUE(driver.ok());
    uint32_t nextId = 1;
    for (int round = 0; round < 5; ++round) {
        PROCESS_INFORMATION ui = StartProgram(standin::WindowsFolder() + L"\\QuenvarUI.exe", L"");
        ASSERT_NE(ui.hProcess, nullptr);
        const DWORD shown = GetTickCount();
        while (MainWindowOf(ui.dwProcessId) == nullptr && GetTickCount() - shown < 20000) Sleep(50);
        ASSERT_NE(MainWindowOf(ui.dwProcessId), nullptr);
        driver.ReadJournal();
        std::vector<AccessEvent> events;
        for (int n = 0; n < 3000; ++n, ++nextId)
            events.push_back(MakeEvent(nextId, nextId % 3, GetCurrentProcessId(), KernelPath(program),
                                       KernelPath(program), nextId));
        ASSERT_TRUE(driver.Inject(events));
        // Quit while the replies are still flowing.
        const DWORD start = GetTickCount();
        while (driver.ReadJournal().empty() && GetTickCount() - start < 20000) Sleep(10);
        Sleep(50 * round);
        ASSERT_TRUE(PostThreadMessageW(ui.dwThreadId, WM_QUIT, 0, 0));
        const DWORD code = WaitForExit(ui, 20000);
        EXPECT_EQ(code, 0u) << "round " << round;
        EndProgram(ui);
        // The service keeps the events that were not answered for the next program.
        Sleep(500);
    }
}
