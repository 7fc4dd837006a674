#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ui/UiTestSupport.h"
#include "console/LogPage.h"
#include "console/LogText.h"
#include "resources/ResourceIds.h"
#include "SeamOverride.h"

using namespace quenvar;
using namespace quenvar::testing;

namespace {

SYSTEMTIME fakeNow;
SYSTEMTIME FakeClock() { return fakeNow; }

class LogPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        fakeNow = {};
        fakeNow.wYear = 2024;
        fakeNow.wMonth = 1;
        fakeNow.wDay = 5;
        fakeNow.wHour = 9;
        fakeNow.wMinute = 3;
        fakeNow.wSecond = 7;
        page = std::make_unique<LogPage>(host.tab());
        ASSERT_NE(page->window, nullptr);
        list = page->GetItem(IDC_LIST);
    }
    void TearDown() override {
        page.reset();
    }

    SeamOverride<LogClock> clock{logClock, FakeClock};

    int Rows() { return ListRowCount(list); }
    std::wstring Text(int row, int column) { return ListCellText(list, row, column); }
    LPARAM Data(int row) {
        LVITEMW item = {};
        item.mask = LVIF_PARAM;
        item.iItem = row;
        SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        return item.lParam;
    }
    bool ClearEnabled() { return IsWindowEnabled(page->clearButton) != FALSE; }
    void ClickClearLog() {
        SendMessageW(page->window, WM_COMMAND, MAKEWPARAM(IDC_CLEAR_LOG, BN_CLICKED),
                     reinterpret_cast<LPARAM>(page->clearButton));
    }

    HostWindow host;
    std::unique_ptr<LogPage> page;
    HWND list = nullptr;
};

}  // namespace

TEST_F(LogPageTest, StartsEmptyWithTwoColumnsAndClearLogDisabled) {
    EXPECT_EQ(logPage, page.get());
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(page->clearButton, page->GetItem(IDC_CLEAR_LOG));
    EXPECT_FALSE(ClearEnabled());
    EXPECT_EQ(SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0), LVS_EX_FULLROWSELECT);
    ASSERT_EQ(page->listView->columnCount, 2);
    const wchar_t* const titles[] = {L"Time", L"Message"};
    for (int column = 0; column < 2; ++column) {
        wchar_t title[64] = {};
        LVCOLUMNW info = {};
        info.mask = LVCF_TEXT;
        info.pszText = title;
        info.cchTextMax = 64;
        SendMessageW(list, LVM_GETCOLUMNW, column, reinterpret_cast<LPARAM>(&info));
        EXPECT_EQ(std::wstring(title), titles[column]);
    }
}

TEST_F(LogPageTest, FirstEntryAppendsARowAndEnablesClearLog) {
    AddLogEntry(L"Quenvar Lockmere %ls loaded.", L"1.0.7");
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(Text(0, 0), L"Jan 5 @  9:03:07");
    EXPECT_EQ(Text(0, 1), L"Quenvar Lockmere 1.0.7 loaded.");
    EXPECT_EQ(Data(0), 1);
    EXPECT_TRUE(ClearEnabled());
    EXPECT_GT(SendMessageW(list, LVM_GETCOLUMNWIDTH, 1, 0), 0);
}

TEST_F(LogPageTest, ThreeIdenticalMessagesInOneSecondFoldIntoOneRow) {
    for (int i = 0; i < 3; ++i) AddLogEntry(L"Blocked illegal screen access in %ls", L"C:\\spy.exe");
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(Text(0, 1), L"Blocked illegal screen access in C:\\spy.exe (3 times)");
    EXPECT_EQ(Text(0, 0), L"Jan 5 @  9:03:07");
    EXPECT_EQ(Data(0), 3);
}

TEST_F(LogPageTest, DifferentMessagesInOneSecondGiveTwoRows) {
    AddLogEntry(L"first");
    AddLogEntry(L"second");
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(Text(0, 1), L"first");
    EXPECT_EQ(Text(1, 1), L"second");
    EXPECT_EQ(Data(1), 1);
    // A longer message is no repeat of a shorter one.
    AddLogEntry(L"second and more");
    EXPECT_EQ(Rows(), 3);
}

TEST_F(LogPageTest, ProperPrefixFoldsIntoTheLastRow) {
    AddLogEntry(L"Blocked foreign text access in C:\\a.exe");
    AddLogEntry(L"Blocked foreign text access");
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(Text(0, 1), L"Blocked foreign text access (2 times)");
    EXPECT_EQ(Data(0), 2);
}

TEST_F(LogPageTest, SameMessageOneSecondLaterStartsANewRow) {
    AddLogEntry(L"tick");
    AddLogEntry(L"tick");
    fakeNow.wSecond = 8;
    AddLogEntry(L"tick");
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(Text(0, 1), L"tick (2 times)");
    EXPECT_EQ(Data(0), 2);
    EXPECT_EQ(Text(1, 0), L"Jan 5 @  9:03:08");
    EXPECT_EQ(Text(1, 1), L"tick");
    EXPECT_EQ(Data(1), 1);
}

TEST_F(LogPageTest, OverlongMessageIsCutTo1023Characters) {
    std::wstring text(1500, L'x');
    AddLogEntry(L"%ls", text.c_str());
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(Text(0, 1), std::wstring(1023, L'x'));
    // Its repeat still folds although the folded text exceeds a cell read.
    AddLogEntry(L"%ls", text.c_str());
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(Text(0, 1), std::wstring(1023, L'x') + L" (2 times)");
}

// After many lines, and after the user scrolled back to the top, the newest
// line is the one in view.
TEST_F(LogPageTest, TheNewestRowIsKeptInView) {
    host.dialog.Show();
    page->Show();
    const auto newestInView = [&] {
        const int top = static_cast<int>(SendMessageW(list, LVM_GETTOPINDEX, 0, 0));
        const int perPage = static_cast<int>(SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0));
        return top > 0 && Rows() - 1 <= top + perPage - 1;
    };
    for (int line = 0; line < 60; ++line) AddLogEntry(L"line %d", line);
    ASSERT_EQ(Rows(), 60);
    EXPECT_TRUE(newestInView());
    SendMessageW(list, LVM_ENSUREVISIBLE, 0, FALSE);
    ASSERT_EQ(SendMessageW(list, LVM_GETTOPINDEX, 0, 0), 0);
    AddLogEntry(L"line 60");
    EXPECT_TRUE(newestInView());
}

TEST_F(LogPageTest, ClearLogAnsweredYesEmptiesTheListAndDisablesTheButton) {
    AddLogEntry(L"one");
    AddLogEntry(L"two");
    ASSERT_TRUE(ClearEnabled());

    MessageBoxAnswerer answerer(L"Are you sure?", IDYES);
    ClickClearLog();
    const MessageBoxSeen seen = answerer.Result();

    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.owner, host.dialog.window);  // the page's top-level window
    EXPECT_EQ(Rows(), 0);
    EXPECT_FALSE(ClearEnabled());

    AddLogEntry(L"three");
    EXPECT_EQ(Rows(), 1);
    EXPECT_TRUE(ClearEnabled());
}

TEST_F(LogPageTest, ClearLogAnsweredNoChangesNothing) {
    AddLogEntry(L"one");
    AddLogEntry(L"two");

    MessageBoxRecorder boxes({IDNO});
    ClickClearLog();
    EXPECT_EQ(boxes.Captions(page->window), BoxCaptions{L"Are you sure?"});

    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(Text(1, 1), L"two");
    EXPECT_TRUE(ClearEnabled());
}

TEST_F(LogPageTest, OtherCommandsAskNothing) {
    AddLogEntry(L"one");
    MessageBoxRecorder boxes({IDYES, IDYES});
    SendMessageW(page->window, WM_COMMAND, MAKEWPARAM(IDC_LIST, BN_CLICKED), 0);
    SendMessageW(page->window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_EQ(boxes.Captions(page->window), BoxCaptions{});
    EXPECT_EQ(Rows(), 1);
    EXPECT_TRUE(page->isOpen);  // the default would have closed the page
}

TEST_F(LogPageTest, EntriesWithoutAPageAreDropped) {
    page.reset();
    EXPECT_EQ(logPage, nullptr);
    AddLogEntry(L"lost");
    page = std::make_unique<LogPage>(host.tab());
    list = page->GetItem(IDC_LIST);
    EXPECT_EQ(Rows(), 0);
    AddLogEntry(L"kept");
    EXPECT_EQ(Rows(), 1);
}

// Lines come from the service link thread and the announcement thread while
// the window thread pumps, and the window thread may log as well.
TEST_F(LogPageTest, ConcurrentEntriesFromSeveralThreadsAreAllKeptInOrder) {
    constexpr int kThreads = 4;
    constexpr int kLines = 40;
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &finished] {
            for (int i = 0; i < kLines; ++i) AddLogEntry(L"thread %d line %03d", t, i);
            ++finished;
        });

    // A deadlock may stop this very thread, so a watchdog reports it; the
    // stuck threads could not be joined, hence the hard exit.
    HANDLE allDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread watchdog([allDone] {
        if (WaitForSingleObject(allDone, 120000) != WAIT_OBJECT_0) {
            std::printf("AddLogEntry did not finish within two minutes: deadlock\n");
            std::fflush(stdout);
            ExitProcess(3);
        }
    });

    int own = 0;
    const bool done = PumpUntil(
        [&] {
            if (own < kLines) AddLogEntry(L"window thread line %03d", own++);
            return finished == kThreads && own == kLines;
        },
        INFINITE);
    SetEvent(allDone);
    watchdog.join();
    CloseHandle(allDone);
    ASSERT_TRUE(done);
    for (auto& thread : threads) thread.join();

    const int expected = (kThreads + 1) * kLines;
    ASSERT_EQ(Rows(), expected);
    std::set<std::wstring> seen;
    std::vector<int> next(kThreads, 0);
    int nextOwn = 0;
    for (int row = 0; row < expected; ++row) {
        const std::wstring text = Text(row, 1);
        EXPECT_EQ(Data(row), 1) << text;
        EXPECT_TRUE(seen.insert(text).second) << text;
        int t = 0;
        int line = 0;
        if (swscanf(text.c_str(), L"thread %d line %d", &t, &line) == 2) {
            ASSERT_TRUE(t >= 0 && t < kThreads) << text;
            EXPECT_EQ(line, next[t]++) << text;
        } else if (swscanf(text.c_str(), L"window thread line %d", &line) == 1) {
            EXPECT_EQ(line, nextOwn++) << text;
        } else {
            ADD_FAILURE() << "unexpected row " << row;
        }
    }
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kLines);
    EXPECT_EQ(nextOwn, kLines);
}
