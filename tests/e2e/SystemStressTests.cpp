// Many events of programs with remembered rights through the whole system.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <cwchar>
#include <vector>

#include "E2eSupport.h"
#include "RememberedRights.h"
#include "SystemSupport.h"
#include "support/ProcessCounts.h"
#include "support/StandInDriverClient.h"
#include "support/WineSystem.h"

using namespace quenvar;
using namespace quenvar::e2e;
using standin::MakeEvent;
using standin::ReplyOf;

namespace {

// Fifty programs in runs of twenty events: each program has one run, of one of
// the three kinds, so every kind meets allowed and denied programs, every run
// folds into log rows, and a leak per event or per program far outgrows the
// slack of the handle count. The events stay under the session's queue bound
// and are injected at once.
constexpr int kPrograms = 50;
constexpr uint32_t kRun = 20;
constexpr uint32_t kEvents = kPrograms * kRun;

// The count of a log row that a burst folded: "... (N times)", else 1.
size_t RowCount(const std::wstring& message) {
    unsigned count = 1;
    const size_t open = message.rfind(L" (");
    return open != std::wstring::npos && swscanf(message.c_str() + open, L" (%u times)", &count) == 1 ? count : 1;
}

}  // namespace

TEST(SystemStress, AThousandEventsOfFiftyRememberedProgramsAreEachAnsweredOnce) {
    ASSERT_TRUE(InstallSystem(true));
    // Every even program is allowed everything, every odd one denied everything.
    std::vector<std::wstring> programs;
    for (int i = 0; i < kPrograms; ++i) {
        programs.push_back(MakeProgramFile(L"C:\\quenvar-stress\\program" + std::to_wstring(i) + L".exe", 100 + i));
        RememberRights(programs.back(), i % 2 ? 0x07 : 0, i % 2 ? 0 : 0x07);
    }
    PROCESS_INFORMATION ui = StartProgram(standin::WindowsFolder() + L"\\QuenvarUI.exe", L"");
    ASSERT_NE(ui.hProcess, nullptr);
    standin::StandInDriverClient driver;
    // Served once, so that the handle count is taken with the caches built.
    ASSERT_TRUE(WaitUntilServed(driver, 1));
    HWND mainWindow = MainWindowOf(ui.dwProcessId);
    ASSERT_NE(mainWindow, nullptr);
    const DWORD handlesBefore = standin::HandleCount(ui.dwProcessId);
    ASSERT_GT(handlesBefore, 0u);

    std::vector<AccessEvent> events;
    std::map<uint32_t, uint32_t> expected;
    for (uint32_t n = 0; n < kEvents; ++n) {
        const uint32_t program = n / kRun, id = 100 + n;
        events.push_back(MakeEvent(id, program % 3, GetCurrentProcessId(), KernelPath(programs[program]),
                                   KernelPath(programs[program]), n));
        expected[id] = program % 2 ? 0 : 1;
    }
    ASSERT_TRUE(driver.Inject(events));
    std::vector<JournalEntry> journal;
    DWORD slowest = 0;
    const DWORD start = GetTickCount();
    while (journal.size() < kEvents && GetTickCount() - start < 120000) {
        const auto more = driver.ReadJournal();
        journal.insert(journal.end(), more.begin(), more.end());
        // The window thread keeps answering while the service link thread works.
        const DWORD before = GetTickCount();
        DWORD_PTR result = 0;
        EXPECT_NE(SendMessageTimeoutW(mainWindow, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result), 0);
        slowest = std::max(slowest, GetTickCount() - before);
        Sleep(50);
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

    const DWORD handlesAfter = standin::HandleCount(ui.dwProcessId);
    std::printf("handles of QuenvarUI: %lu before, %lu after\n", handlesBefore, handlesAfter);
    EXPECT_LE(handlesAfter, handlesBefore + 5);

    // Each denial is counted once in the log; a run of one program, kind and
    // second folds into one row, and a run that crosses a second into two.
    size_t denialRows = 0, denials = 0;
    for (const auto& row : ReadLogRows(ui.dwProcessId)) {
        if (row.second.rfind(L"Blocked ", 0) == 0) denialRows += 1, denials += RowCount(row.second);
    }
    std::printf("%zu log rows for %zu denials\n", denialRows, denials);
    EXPECT_EQ(denials, kEvents / 2);
    EXPECT_GE(denialRows, static_cast<size_t>(kPrograms / 2));
    EXPECT_LE(denialRows, static_cast<size_t>(kPrograms));
    EndProgram(ui);
}

// The logon ends while the service link thread is busy with a stream of
// events: the program is told as Windows tells it, then its process is ended.
// It must not crash meanwhile, and the events it left are answered by the next
// program, each exactly once.
TEST(SystemOrderlyExit, TheEndOfTheLogonWhileEventsStreamLeavesEveryEventAnsweredOnce) {
    ASSERT_TRUE(InstallSystem(true));
    const std::wstring program = MakeProgramFile(L"C:\\quenvar-exit\\streamer.exe", 7);
    RememberRights(program, 0x02, 0x05);  // hooks denied: logged
    standin::StandInDriverClient driver;
    ASSERT_TRUE(driver.ok());
    driver.ReadJournal();  // the service's registration
    // Three hundred events keep the program busy for more than a second, well
    // past the quit, which comes at most 200 ms after the first reply.
    constexpr uint32_t kRounds = 5, kEventsEach = 300, kProbeIds = 0x80000000u;
    std::vector<JournalEntry> journal;
    const auto answered = [&] {
        const auto more = driver.ReadJournal();
        journal.insert(journal.end(), more.begin(), more.end());
        return journal.size();
    };
    uint32_t nextId = 1;
    for (uint32_t round = 0; round <= kRounds; ++round) {
        PROCESS_INFORMATION ui = StartProgram(standin::WindowsFolder() + L"\\QuenvarUI.exe", L"");
        ASSERT_NE(ui.hProcess, nullptr);
        // Served, and done with what the last program left, before the events
        // come: a screen access that finds no program is denied at once.
        ASSERT_TRUE(WaitUntilServed(driver, kProbeIds + round, &journal)) << "round " << round;
        if (round == kRounds) {
            EXPECT_TRUE(WaitFor([&] { return answered() >= kRounds * kEventsEach + kRounds + 1; }, 60000));
            EndProgram(ui);
            break;
        }
        std::vector<AccessEvent> events;
        for (uint32_t n = 0; n < kEventsEach; ++n, ++nextId)
            events.push_back(MakeEvent(nextId, nextId % 3, GetCurrentProcessId(), KernelPath(program),
                                       KernelPath(program), nextId));
        const size_t before = answered();
        ASSERT_TRUE(driver.Inject(events));
        // End while the replies are still flowing, once the service holds every event.
        ASSERT_TRUE(WaitFor([&] { return answered() > before && driver.QueryState().queuedEvents == 0; }, 20000));
        Sleep(50 * round);
        HWND main = MainWindowOf(ui.dwProcessId);
        ASSERT_NE(main, nullptr);
        DWORD_PTR result = 0;
        SendMessageTimeoutW(main, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_BLOCK, 5000, &result);
        SendMessageTimeoutW(main, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_BLOCK, 5000, &result);
        // Wine reports no ending session, so the program waits to be ended, as
        // Windows then ends it; a crash would have ended it with its exception code.
        const DWORD code = WaitForExit(ui, 500);
        EXPECT_TRUE(code == STILL_ACTIVE || code == 0) << "round " << round << " ended with " << code;
        EndProgram(ui);
        // Its worker notices within a quarter second; the next program must not
        // come before that, or it is cut off as a second program of the logon.
        Sleep(500);
    }
    std::map<uint32_t, int> answers;
    for (const JournalEntry& entry : journal) {
        const AccessReply reply = ReplyOf(entry);
        ++answers[reply.eventId];
        const bool hook = reply.eventId < kProbeIds && reply.eventId % 3 == kKeyboardHook;
        EXPECT_EQ(reply.allow, hook ? 0u : 1u) << reply.eventId;
    }
    EXPECT_EQ(answers.size(), kRounds * kEventsEach + kRounds + 1);
    for (const auto& [id, count] : answers) EXPECT_EQ(count, 1) << "event " << id;
}
