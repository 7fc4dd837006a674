#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ui/UiTestSupport.h"
#include "RightsTestSupport.h"
#include "client/ProcessRightsCache.h"
#include "client/RightsStore.h"
#include "common/RestartRoutine.h"
#include "console/AccessControlPage.h"
#include "console/ProgramFileActions.h"
#include "resources/ResourceIds.h"
#include "SeamOverride.h"

using namespace quenvar;
using namespace quenvar::testing;

namespace {

const wchar_t* const kProperties[9] = {
    L"Can Read Screen", L"Can Hook Keyboard", L"Can Read Unowned Window", L"Version",    L"Company",
    L"Product Name",    L"Product Version",   L"Copyright",               L"Description",
};

int restarts = 0;
void CountRestart() { ++restarts; }

std::wstring ColumnTitle(HWND list, int column) {
    wchar_t title[128] = {};
    LVCOLUMNW info = {};
    info.mask = LVCF_TEXT;
    info.pszText = title;
    info.cchTextMax = 128;
    SendMessageW(list, LVM_GETCOLUMNW, column, reinterpret_cast<LPARAM>(&info));
    return title;
}

class AccessControlPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearStoredRights();
        restarts = 0;
    }
    void TearDown() override {
        page.reset();
        ClearStoredRights();
    }

    SeamOverride<void (*)()> restart{restartRoutine, CountRestart};

    void Open() {
        page = std::make_unique<AccessControlPage>(host.tab());
        ASSERT_NE(page->window, nullptr);
    }

    int Rows() { return static_cast<int>(SendMessageW(page->listWindow, LVM_GETITEMCOUNT, 0, 0)); }
    std::wstring Cell(int row, int column) { return ListCellText(page->listWindow, row, column); }
    int RowOf(const std::wstring& path) {
        for (int row = 0; row < Rows(); ++row)
            if (Cell(row, 2) == path) return row;
        return -1;
    }
    std::wstring Detail(int row) { return ListCellText(page->detailsWindow, row, 1); }
    std::vector<std::wstring> Rights() { return {Detail(0), Detail(1), Detail(2)}; }
    void Select(int row) {
        LVITEMW item = {};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(page->listWindow, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    }
    void SelectNothing() {
        LVITEMW item = {};
        item.stateMask = LVIS_SELECTED;
        item.state = 0;
        SendMessageW(page->listWindow, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
    }
    bool Enabled(HWND control) { return IsWindowEnabled(control) != FALSE; }
    void Click(int id, HWND button) {
        SendMessageW(page->window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    }
    void ClickForget() { Click(IDC_FORGET_FILE, page->forgetButton); }
    void ClickDestroy() { Click(IDC_DESTROY_FILE, page->destroyButton); }
    bool ForgetQueued(const std::wstring& path) {
        RightsStore& store = TheRightsStore();
        return store.pendingForgets.count(path) == 1;
    }

    HostWindow host;
    TempFolder folder;
    std::unique_ptr<AccessControlPage> page;
};

}  // namespace

TEST(AccessRightText, AllowedWinsThenDeniedElseAsk) {
    EXPECT_STREQ(RightText(0x4, 0x1, 0x1), L"No");
    EXPECT_STREQ(RightText(0x4, 0x1, 0x2), L"Ask");
    EXPECT_STREQ(RightText(0x4, 0x1, 0x4), L"Yes");
    EXPECT_STREQ(RightText(0x2, 0x2, 0x2), L"Yes");
    EXPECT_STREQ(RightText(0, 0, 0x1), L"Ask");
}

TEST(AccessStoredMasks, ByteOneAllowedByteZeroDeniedWidenedAsSignedBytes) {
    const uint8_t record[42] = {0x01, 0x04};
    StoredMasks masks = MasksOfStoredValue(record, 42);
    EXPECT_EQ(masks.deniedMask, 1u);
    EXPECT_EQ(masks.allowedMask, 4u);

    const uint8_t high[2] = {0x80, 0xFF};
    masks = MasksOfStoredValue(high, 2);
    EXPECT_EQ(masks.deniedMask, 0xFFFFFF80u);
    EXPECT_EQ(masks.allowedMask, 0xFFFFFFFFu);
}

TEST(AccessStoredMasks, MissingBytesOfAShortValueCountAsZero) {
    // The byte past the value's data must not be read: a guard byte shows it.
    const uint8_t oneByte[2] = {0x02, 0x7F};
    StoredMasks masks = MasksOfStoredValue(oneByte, 1);
    EXPECT_EQ(masks.deniedMask, 2u);
    EXPECT_EQ(masks.allowedMask, 0u);
    masks = MasksOfStoredValue(oneByte, 0);
    EXPECT_EQ(masks.deniedMask, 0u);
    EXPECT_EQ(masks.allowedMask, 0u);
}

TEST_F(AccessControlPageTest, EmptyPageHasItsColumnsAndNineBlankDetailsAndEverythingDisabled) {
    Open();
    EXPECT_EQ(page->listWindow, page->GetItem(IDC_LIST));
    EXPECT_EQ(page->detailsWindow, page->GetItem(IDC_DETAILS_LIST));
    EXPECT_EQ(page->forgetButton, page->GetItem(IDC_FORGET_FILE));
    EXPECT_EQ(page->destroyButton, page->GetItem(IDC_DESTROY_FILE));
    EXPECT_NE(page->rightsKey.get(), nullptr);
    EXPECT_EQ(SendMessageW(page->listWindow, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0), 0x60);
    EXPECT_EQ(SendMessageW(page->detailsWindow, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0), 0x20);
    ASSERT_EQ(page->listView->columnCount, 3);
    EXPECT_EQ(ColumnTitle(page->listWindow, 0), L"Program Name");
    EXPECT_EQ(ColumnTitle(page->listWindow, 1), L"Restricted");
    EXPECT_EQ(ColumnTitle(page->listWindow, 2), L"Path");
    ASSERT_EQ(page->detailsView->columnCount, 2);
    EXPECT_EQ(ColumnTitle(page->detailsWindow, 0), L"Property");
    EXPECT_EQ(ColumnTitle(page->detailsWindow, 1), L"Value");
    ASSERT_EQ(SendMessageW(page->detailsWindow, LVM_GETITEMCOUNT, 0, 0), 9);
    for (int row = 0; row < 9; ++row) {
        EXPECT_EQ(ListCellText(page->detailsWindow, row, 0), kProperties[row]);
        EXPECT_EQ(Detail(row), L"");
    }
    EXPECT_EQ(Rows(), 0);
    EXPECT_TRUE(page->programs.empty());
    EXPECT_FALSE(Enabled(page->listWindow));
    EXPECT_FALSE(Enabled(page->detailsWindow));
    EXPECT_FALSE(Enabled(page->forgetButton));
    EXPECT_FALSE(Enabled(page->destroyButton));
}

TEST_F(AccessControlPageTest, ListsStoredRecordsWithRestrictionAndRightsOfExistingFilesOnly) {
    const std::wstring restricted = folder.MakeFile(L"restricted.exe");
    const std::wstring unsettled = folder.MakeFile(L"unsettled.exe");
    const std::wstring gone = folder.PathOf(L"gone.exe");
    std::vector<uint8_t> record(42, 0xA5);
    record[0] = 1;
    record[1] = 4;
    StoreRights(restricted, record);
    record[0] = 0;
    record[1] = 0;
    StoreRights(unsettled, record);
    StoreRights(gone, record);
    Open();

    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(page->programs.size(), 2u);
    EXPECT_EQ(RowOf(gone), -1);
    EXPECT_EQ(page->programs.count(gone), 0u);
    const int first = RowOf(restricted);
    const int second = RowOf(unsettled);
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    // Files without a version resource are named by their file name.
    EXPECT_EQ(Cell(first, 0), L"restricted.exe");
    EXPECT_EQ(Cell(first, 1), L"Yes");
    EXPECT_EQ(Cell(second, 0), L"unsettled.exe");
    EXPECT_EQ(Cell(second, 1), L"No");
    EXPECT_EQ(reinterpret_cast<ProgramInfo*>(page->listView->GetRowData(first)), page->programs[restricted].get());
    EXPECT_TRUE(Enabled(page->listWindow));
    EXPECT_GT(SendMessageW(page->listWindow, LVM_GETCOLUMNWIDTH, 2, 0), 0);
    // Every title fits with the header's margins, and the columns fit the list.
    for (int column = 0; column < 3; ++column) {
        const std::wstring title = ColumnTitle(page->listWindow, column);
        const LRESULT titleWidth =
            SendMessageW(page->listWindow, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(title.c_str()));
        EXPECT_GE(SendMessageW(page->listWindow, LVM_GETCOLUMNWIDTH, column, 0),
                  titleWidth + 6 * GetSystemMetrics(SM_CXEDGE))
            << column;
    }
    EXPECT_EQ(GetWindowLongPtrW(page->listWindow, GWL_STYLE) & WS_HSCROLL, 0);
    // Nothing is selected yet.
    EXPECT_FALSE(Enabled(page->forgetButton));
    EXPECT_EQ(Detail(0), L"");

    Select(first);
    EXPECT_EQ(Rights(), (std::vector<std::wstring>{L"No", L"Ask", L"Yes"}));
    for (int row = 3; row < 9; ++row) EXPECT_EQ(Detail(row), L"N/A") << row;
    EXPECT_TRUE(Enabled(page->detailsWindow));
    EXPECT_TRUE(Enabled(page->forgetButton));
    EXPECT_TRUE(Enabled(page->destroyButton));

    Select(second);
    EXPECT_EQ(Rights(), (std::vector<std::wstring>{L"Ask", L"Ask", L"Ask"}));
}

// The file with known version strings that the client tests read, built next
// to this program.
TEST_F(AccessControlPageTest, DetailsShowTheVersionStringsOfTheProgram) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring fixture = std::wstring(self, wcsrchr(self, L'\\') + 1) + L"QuenvarFixtureFull.dll";
    ASSERT_NE(GetFileAttributesW(fixture.c_str()), INVALID_FILE_ATTRIBUTES) << "fixture missing";
    StoreRights(fixture, std::vector<uint8_t>(42, 0));
    Open();
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(Cell(0, 0), L"Snoop Screen Grabber");
    Select(0);
    EXPECT_EQ(Detail(3), L"2.5.0.17");
    EXPECT_EQ(Detail(4), L"\x041e\x041e\x041e \x0428\x043f\x0438\x043e\x043d-\x0421\x043e\x0444\x0442");
    EXPECT_EQ(Detail(5), L"Snoop \xd55c\xae00 Edition");
    EXPECT_EQ(Detail(6), L"2.5");
    EXPECT_EQ(Detail(7), L"\x00a9 2004 Soci\x00e9t\x00e9 Snoop");
    EXPECT_EQ(Detail(8), L"Saves 100% of {\\rtf1 frames} to C:\\Snoop\\%progpath%\\out");
}

TEST_F(AccessControlPageTest, ShortValuesAreListedAndAnOversizedValueDoesNotHideTheOthers) {
    const std::wstring oneByte = folder.MakeFile(L"one-byte.exe");
    const std::wstring empty = folder.MakeFile(L"empty.exe");
    // Sorts and is stored first, so that enumeration meets it before the others.
    const std::wstring oversized = L"C:\\!oversized.exe";
    StoreRights(oversized, std::vector<uint8_t>(2000, 1));
    StoreRights(oneByte, {0x01});
    StoreRights(empty, {});
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Quenvar\\Lockmere\\Rights\\", 0, KEY_READ, &key),
                  ERROR_SUCCESS);
        wchar_t name[1024];
        DWORD length = 1024;
        ASSERT_EQ(RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
        RegCloseKey(key);
        ASSERT_EQ(std::wstring(name), oversized);
    }
    Open();
    ASSERT_EQ(Rows(), 2);
    ASSERT_GE(RowOf(oneByte), 0);
    ASSERT_GE(RowOf(empty), 0);
    EXPECT_EQ(Cell(RowOf(oneByte), 1), L"Yes");
    EXPECT_EQ(Cell(RowOf(empty), 1), L"No");
    Select(RowOf(oneByte));
    EXPECT_EQ(Rights(), (std::vector<std::wstring>{L"No", L"Ask", L"Ask"}));
    Select(RowOf(empty));
    EXPECT_EQ(Rights(), (std::vector<std::wstring>{L"Ask", L"Ask", L"Ask"}));
}

TEST_F(AccessControlPageTest, SavedDecisionRefreshesTheRowInPlaceAndTheSelectedDetails) {
    const std::wstring first = folder.MakeFile(L"first.exe");
    const std::wstring second = folder.MakeFile(L"second.exe");
    StoreRights(first, std::vector<uint8_t>(42, 0));
    StoreRights(second, std::vector<uint8_t>(42, 0));
    Open();
    const int firstRow = RowOf(first);
    const int secondRow = RowOf(second);
    Select(firstRow);
    ASSERT_EQ(Rights(), (std::vector<std::wstring>{L"Ask", L"Ask", L"Ask"}));

    page->UpdateProgram(first, 0x1, 0x6);
    EXPECT_EQ(Rows(), 2);
    EXPECT_EQ(RowOf(first), firstRow);
    EXPECT_EQ(Cell(firstRow, 1), L"Yes");
    EXPECT_EQ(Rights(), (std::vector<std::wstring>{L"Yes", L"No", L"No"}));
    EXPECT_EQ(page->programs[first]->allowedMask, 0x1u);
    EXPECT_EQ(page->programs[first]->deniedMask, 0x6u);

    // An unselected program changes its row; the details stay with the selection.
    page->UpdateProgram(second, 0, 0x2);
    EXPECT_EQ(Cell(secondRow, 1), L"Yes");
    EXPECT_EQ(Rights(), (std::vector<std::wstring>{L"Yes", L"No", L"No"}));
    page->UpdateProgram(first, 0x7, 0);
    EXPECT_EQ(Cell(firstRow, 1), L"No");
    EXPECT_EQ(Rights(), (std::vector<std::wstring>{L"Yes", L"Yes", L"Yes"}));
}

TEST_F(AccessControlPageTest, SavedDecisionFromAnotherThreadAppendsANewProgramButNotAMissingOne) {
    const std::wstring listed = folder.MakeFile(L"listed.exe");
    const std::wstring fresh = folder.MakeFile(L"fresh.exe");
    const std::wstring missing = folder.PathOf(L"missing.exe");
    StoreRights(listed, std::vector<uint8_t>(42, 0));
    Open();
    Select(0);

    // As the service link thread does: the page's thread must keep pumping.
    std::atomic<bool> finished{false};
    std::thread link([&] {
        page->UpdateProgram(fresh, 0, 0x1);
        page->UpdateProgram(missing, 0x1, 0);
        page->UpdateProgram(listed, 0x2, 0x1);
        finished = true;
    });
    ASSERT_TRUE(PumpUntil([&] { return finished.load(); }, 20000));
    link.join();

    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(Cell(1, 0), L"fresh.exe");
    EXPECT_EQ(Cell(1, 1), L"Yes");
    EXPECT_EQ(Cell(1, 2), fresh);
    EXPECT_EQ(RowOf(missing), -1);
    EXPECT_EQ(page->programs.count(missing), 0u);
    EXPECT_EQ(Rights(), (std::vector<std::wstring>{L"No", L"Yes", L"Ask"}));
}

TEST_F(AccessControlPageTest, SelectingNothingClearsTheValuesAndDisablesButtonsAndDetails) {
    const std::wstring program = folder.MakeFile(L"program.exe");
    StoreRights(program, {0x2, 0x1});
    Open();
    Select(0);
    ASSERT_EQ(Rights(), (std::vector<std::wstring>{L"Yes", L"No", L"Ask"}));
    ASSERT_TRUE(Enabled(page->forgetButton));

    SelectNothing();
    EXPECT_EQ(page->listView->GetSelectedRow(), -1);
    for (int row = 0; row < 9; ++row) {
        EXPECT_EQ(Detail(row), L"") << row;
        EXPECT_EQ(ListCellText(page->detailsWindow, row, 0), kProperties[row]);
    }
    EXPECT_FALSE(Enabled(page->forgetButton));
    EXPECT_FALSE(Enabled(page->destroyButton));
    EXPECT_FALSE(Enabled(page->detailsWindow));
    EXPECT_TRUE(Enabled(page->listWindow));
}

TEST_F(AccessControlPageTest, ForgetFileWithYesRemovesRowValueAndCachedRights) {
    const std::wstring kept = folder.MakeFile(L"kept.exe");
    const std::wstring forgotten = folder.MakeFile(L"forgotten.exe");
    StoreRights(kept, std::vector<uint8_t>(42, 0));
    StoreRights(forgotten, std::vector<uint8_t>(42, 1));
    Open();
    ASSERT_FALSE(ForgetQueued(forgotten));
    Select(RowOf(forgotten));

    MessageBoxAnswerer answerer(L"Are you sure?", IDYES);
    ClickForget();
    const MessageBoxSeen seen = answerer.Result();
    ASSERT_TRUE(seen.found);
    EXPECT_NE(seen.text.find(forgotten), std::wstring::npos);  // the whole text: UserTexts
    EXPECT_EQ(seen.owner, host.dialog.window);  // the page's top-level window

    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(Cell(0, 2), kept);
    EXPECT_EQ(page->programs.count(forgotten), 0u);
    EXPECT_FALSE(StoredRightsExist(forgotten));
    EXPECT_TRUE(StoredRightsExist(kept));
    EXPECT_TRUE(ForgetQueued(forgotten));
    EXPECT_EQ(Detail(0), L"");
    EXPECT_FALSE(Enabled(page->forgetButton));
    EXPECT_FALSE(Enabled(page->destroyButton));
    EXPECT_FALSE(Enabled(page->detailsWindow));
    EXPECT_TRUE(Enabled(page->listWindow));

    // It comes back only with a new decision.
    page->UpdateProgram(forgotten, 0x4, 0);
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(Cell(1, 2), forgotten);
    EXPECT_EQ(Cell(1, 1), L"No");
}

TEST_F(AccessControlPageTest, ForgetFileOnTheLastRowLeavesTheListEmptyAndDisabled) {
    const std::wstring only = folder.MakeFile(L"only.exe");
    StoreRights(only, std::vector<uint8_t>(42, 0));
    Open();
    Select(0);
    MessageBoxRecorder boxes({IDYES});
    ClickForget();
    EXPECT_EQ(boxes.Captions(page->window), BoxCaptions{L"Are you sure?"});
    EXPECT_EQ(Rows(), 0);
    EXPECT_TRUE(page->programs.empty());
    EXPECT_FALSE(Enabled(page->listWindow));
    EXPECT_FALSE(StoredRightsExist(only));
}

TEST_F(AccessControlPageTest, ForgetFileAnsweredNoChangesNothing) {
    const std::wstring program = folder.MakeFile(L"program.exe");
    StoreRights(program, std::vector<uint8_t>(42, 0));
    Open();
    Select(0);
    MessageBoxRecorder boxes({IDNO});
    ClickForget();
    EXPECT_EQ(boxes.Captions(page->window), BoxCaptions{L"Are you sure?"});
    EXPECT_EQ(Rows(), 1);
    EXPECT_EQ(page->programs.count(program), 1u);
    EXPECT_TRUE(StoredRightsExist(program));
    EXPECT_FALSE(ForgetQueued(program));
    EXPECT_TRUE(Enabled(page->forgetButton));
    EXPECT_EQ(Rights(), (std::vector<std::wstring>{L"Ask", L"Ask", L"Ask"}));
}

TEST_F(AccessControlPageTest, DestroyFileOfAFileDeletedMeanwhileOnlyDisablesTheButton) {
    const std::wstring program = folder.MakeFile(L"vanished.exe");
    StoreRights(program, std::vector<uint8_t>(42, 0));
    Open();
    Select(0);
    ASSERT_TRUE(Enabled(page->destroyButton));
    ASSERT_TRUE(DeleteFileW(program.c_str()));

    MessageBoxRecorder boxes;
    ClickDestroy();
    EXPECT_EQ(boxes.Captions(page->window), BoxCaptions{});
    EXPECT_FALSE(Enabled(page->destroyButton));
    EXPECT_TRUE(Enabled(page->forgetButton));
    EXPECT_EQ(Rows(), 1);
    EXPECT_TRUE(StoredRightsExist(program));
}

TEST_F(AccessControlPageTest, DestroyFileDeletesAFileThatCanBeDeletedAndKeepsItsRow) {
    const std::wstring program = folder.MakeFile(L"doomed.exe");
    SetFileAttributesW(program.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    StoreRights(program, {0x1, 0x0});
    Open();
    Select(0);
    // Any program may rewrite the row's text; the record names the file.
    const std::wstring other = folder.MakeFile(L"other.exe");
    page->listView->SetCellText(0, 2, other.c_str());

    MessageBoxRecorder boxes({IDYES});
    ClickDestroy();
    EXPECT_EQ(boxes.Captions(page->window), (BoxCaptions{L"Are you sure?", L"Operation Complete"}));

    EXPECT_EQ(GetFileAttributesW(program.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesW(other.c_str()), INVALID_FILE_ATTRIBUTES);
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(Cell(0, 1), L"Yes");
    EXPECT_TRUE(StoredRightsExist(program));
    EXPECT_FALSE(Enabled(page->destroyButton));
    EXPECT_TRUE(Enabled(page->forgetButton));
    EXPECT_EQ(Rights(), (std::vector<std::wstring>{L"No", L"Ask", L"Ask"}));
    EXPECT_EQ(restarts, 0);
}

TEST_F(AccessControlPageTest, DestroyFileAnsweredNoKeepsTheFile) {
    const std::wstring program = folder.MakeFile(L"spared.exe");
    StoreRights(program, std::vector<uint8_t>(42, 0));
    Open();
    Select(0);
    MessageBoxRecorder boxes({IDNO});
    ClickDestroy();
    EXPECT_EQ(boxes.Captions(page->window), BoxCaptions{L"Are you sure?"});
    EXPECT_NE(GetFileAttributesW(program.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(Enabled(page->destroyButton));
}

TEST_F(AccessControlPageTest, DestroyFileInUseSchedulesTheDeletionAndOffersARestart) {
    const std::wstring program = folder.MakeFile(L"busy.exe");
    StoreRights(program, std::vector<uint8_t>(42, 0));
    Open();
    Select(0);
    ForgetPendingDeletions();

    for (const int answer : {IDNO, IDYES}) {
        FileInUse inUse(program);
        ASSERT_TRUE(inUse.held());
        MessageBoxRecorder boxes({IDYES, IDYES, answer});
        ClickDestroy();
        EXPECT_EQ(boxes.Captions(page->window),
                  (BoxCaptions{L"Are you sure?", L"Schedule Delete on Reboot?", L"Reboot Now?"}));
        EXPECT_TRUE(ListsPending(program));
        EXPECT_EQ(restarts, answer == IDYES ? 1 : 0);
        ForgetPendingDeletions();
    }
    EXPECT_NE(GetFileAttributesW(program.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(Rows(), 1);
    EXPECT_TRUE(Enabled(page->destroyButton));
}

TEST_F(AccessControlPageTest, DestroyFileInUseAnsweredNoAtTheScheduleQuestionSchedulesNothing) {
    const std::wstring program = folder.MakeFile(L"busy.exe");
    StoreRights(program, std::vector<uint8_t>(42, 0));
    Open();
    Select(0);
    ForgetPendingDeletions();
    FileInUse inUse(program);
    ASSERT_TRUE(inUse.held());
    MessageBoxRecorder boxes({IDYES, IDNO});
    ClickDestroy();
    EXPECT_EQ(boxes.Captions(page->window), (BoxCaptions{L"Are you sure?", L"Schedule Delete on Reboot?"}));
    EXPECT_FALSE(ListsPending(program));
    EXPECT_EQ(restarts, 0);
}

TEST_F(AccessControlPageTest, DestroyFileThatCanNeitherBeDeletedNorScheduledEndsWithAccessDenied) {
    const std::wstring program = folder.MakeFile(L"locked.exe");
    StoreRights(program, {0x1, 0x2});
    Open();
    Select(0);
    ForgetPendingDeletions();
    {
        FileInUse inUse(program);
        ASSERT_TRUE(inUse.held());
        KeyReadOnly readOnly(kSessionManagerKey);
        ASSERT_TRUE(readOnly.active());
        MessageBoxRecorder boxes({IDYES, IDYES});
        ClickDestroy();
        EXPECT_EQ(boxes.Captions(page->window),
                  (BoxCaptions{L"Are you sure?", L"Schedule Delete on Reboot?", L"Access Denied"}));
    }
    EXPECT_FALSE(ListsPending(program));
    EXPECT_EQ(restarts, 0);
    EXPECT_NE(GetFileAttributesW(program.c_str()), INVALID_FILE_ATTRIBUTES);
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(Cell(0, 1), L"Yes");
    EXPECT_TRUE(StoredRightsExist(program));
    EXPECT_TRUE(Enabled(page->destroyButton));
    EXPECT_EQ(Rights(), (std::vector<std::wstring>{L"No", L"Yes", L"Ask"}));
}

// The service link thread reports decisions while the user clicks through the
// list. Neither thread may end up waiting for the other.
TEST_F(AccessControlPageTest, DecisionsFromAnotherThreadWhileTheWindowThreadRefreshesNeverDeadlock) {
    // Each update waits until the window thread has pumped, so the two threads
    // take turns: about one window step per update. 120 updates give each kind
    // of step (Destroy File taking the lock without a box, clearing the
    // selection, selecting and refreshing) 20 or more turns against an update
    // in flight; a thread that sends while holding the lock hangs within a few.
    constexpr int kPrograms = 5;
    constexpr int kUpdates = 120;
    std::vector<std::wstring> paths;
    for (int i = 0; i < kPrograms; ++i) {
        paths.push_back(folder.MakeFile(L"program" + std::to_wstring(i) + L".exe"));
        StoreRights(paths.back(), std::vector<uint8_t>(42, 0));
    }
    // One program whose file disappears: Destroy File on it takes the lock
    // without asking anything.
    const std::wstring vanished = folder.MakeFile(L"vanished.exe");
    StoreRights(vanished, std::vector<uint8_t>(42, 0));
    Open();
    ASSERT_TRUE(DeleteFileW(vanished.c_str()));
    ASSERT_EQ(Rows(), kPrograms + 1);

    // A deadlock stops this very thread, so a watchdog reports it; the stuck
    // threads could not be joined, hence the hard exit.
    HANDLE allDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread watchdog([allDone] {
        if (WaitForSingleObject(allDone, 120000) != WAIT_OBJECT_0) {
            std::printf("UpdateProgram and the window thread did not finish within two minutes: deadlock\n");
            std::fflush(stdout);
            ExitProcess(3);
        }
    });

    std::atomic<int> done{0};
    std::thread link([&] {
        for (int i = 0; i < kUpdates; ++i) {
            page->UpdateProgram(paths[i % kPrograms], static_cast<uint32_t>(i) & 7u, ~static_cast<uint32_t>(i) & 7u);
            done = i + 1;
        }
    });

    int step = 0;
    const int vanishedRow = RowOf(vanished);
    while (done < kUpdates) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        const int row = step % (kPrograms + 1);
        if (row == vanishedRow) {
            Select(row);
            ClickDestroy();
        } else if (step % 3 == 0) {
            SelectNothing();
        } else {
            Select(row);
            page->RefreshDetails();
        }
        ++step;
    }
    link.join();
    SetEvent(allDone);
    watchdog.join();
    CloseHandle(allDone);

    EXPECT_GT(step, 0);
    ASSERT_EQ(Rows(), kPrograms + 1);
    for (int p = 0; p < kPrograms; ++p) {
        // The last update of program p was number kUpdates - kPrograms + p: its
        // low three bits allowed, the others of them denied.
        const uint32_t last = static_cast<uint32_t>(kUpdates - kPrograms + p);
        const int row = RowOf(paths[p]);
        ASSERT_GE(row, 0);
        EXPECT_EQ(Cell(row, 1), (~last & 7u) != 0 ? L"Yes" : L"No") << p;
        EXPECT_EQ(page->programs[paths[p]]->allowedMask, last & 7u);
        EXPECT_EQ(page->programs[paths[p]]->deniedMask, ~last & 7u);
        Select(row);
        for (int bit = 0; bit < 3; ++bit) EXPECT_EQ(Detail(bit), (last >> bit & 1u) ? L"Yes" : L"No") << p;
    }
}

// Any process can send the page's private messages and notifications, with
// parameters that point nowhere in this process.
TEST_F(AccessControlPageTest, MessagesWithForeignParametersNeitherCrashNorChangeThePage) {
    const std::wstring program = folder.MakeFile(L"steady.exe");
    StoreRights(program, {0x0, 0x1});
    Open();
    for (const LPARAM junk : {LPARAM(0), LPARAM(0x10), LPARAM(-1), LPARAM(0x7FFE0000)}) {
        page->HandleMessage(WM_APP + 0x135, 0, junk);
        page->HandleMessage(WM_NOTIFY, 0, junk);
    }
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(Cell(0, 2), program);
    // A saved decision still reaches the page from another thread.
    const std::wstring later = folder.MakeFile(L"later.exe");
    std::thread link([&] { page->UpdateProgram(later, 0x2, 0x0); });
    EXPECT_TRUE(PumpUntil([&] { return Rows() == 2; }, 5000));
    link.join();
    EXPECT_EQ(Cell(1, 2), later);
}

namespace {

bool ProtectEverything(const wchar_t*) { return true; }

DWORD Attributes(const std::wstring& path) { return GetFileAttributesW(path.c_str()); }

}  // namespace

// Windows File Protection keeps the file; the record naming it may have been
// written by any program running as the user.
TEST_F(AccessControlPageTest, DestroyFileRefusesAFileThatWindowsProtects) {
    const std::wstring program = folder.MakeFile(L"protected.exe");
    StoreRights(program, {0x0, 0x1});
    Open();
    Select(0);
    SeamOverride<FileProtectionCheck> protection{fileProtectionCheck, ProtectEverything};
    MessageBoxRecorder boxes;
    ClickDestroy();
    EXPECT_EQ(boxes.Captions(page->window), BoxCaptions{L"File Protected"});
    EXPECT_NE(Attributes(program), INVALID_FILE_ATTRIBUTES);
}

TEST_F(AccessControlPageTest, DestroyFileRefusesTheSystemsOwnInstalledFiles) {
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring own = std::wstring(windows) + L"\\QuenvarDll.dll";
    {
        HANDLE file = CreateFileW(own.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
    }
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    for (const std::wstring& program : {own, std::wstring(self)}) {
        ClearStoredRights();
        StoreRights(program, {0x0, 0x1});
        page.reset();
        Open();
        Select(0);
        MessageBoxRecorder boxes;
        ClickDestroy();
        ASSERT_EQ(boxes.Captions(page->window), BoxCaptions{L"File Protected"})
            << std::string(program.begin(), program.end());
        // Not the other refusal.
        EXPECT_NE(boxes.boxes[0].text.find(L"belongs to Quenvar Lockmere itself"), std::wstring::npos);
        EXPECT_NE(Attributes(program), INVALID_FILE_ATTRIBUTES);
    }
    DeleteFileW(own.c_str());
}

// A running program's file opens for deletion, but its delete is refused (by
// Wine too, for a file mapped as an image).
TEST_F(AccessControlPageTest, DestroyFileThatCannotBeDeletedKeepsItsAttributes) {
    const std::wstring program = folder.PathOf(L"hidden.exe");
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    ASSERT_TRUE(CopyFileW(self, program.c_str(), FALSE));
    const DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    ASSERT_TRUE(SetFileAttributesW(program.c_str(), kept));
    StoreRights(program, {0x0, 0x1});
    Open();
    Select(0);
    ForgetPendingDeletions();
    const HMODULE running = LoadLibraryExW(program.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(running, nullptr);
    const struct {
        std::vector<int> answers;
        BoxCaptions boxes;
    } cases[] = {
        {{IDYES, IDNO}, {L"Are you sure?", L"Schedule Delete on Reboot?"}},
        {{IDYES, IDYES}, {L"Are you sure?", L"Schedule Delete on Reboot?", L"Access Denied"}},
        {{IDNO}, {L"Are you sure?"}},  // declined at once: nothing is touched
    };
    for (const auto& c : cases) {
        KeyReadOnly readOnly(kSessionManagerKey);  // the scheduling is refused
        ASSERT_TRUE(readOnly.active());
        MessageBoxRecorder boxes(c.answers);
        ClickDestroy();
        ASSERT_EQ(boxes.Captions(page->window), c.boxes);
        EXPECT_EQ(Attributes(program) & kept, kept) << c.boxes.size();
    }
    FreeLibrary(running);
    EXPECT_FALSE(ListsPending(program));
    SetFileAttributesW(program.c_str(), FILE_ATTRIBUTE_NORMAL);
}

namespace {

std::wstring junction;  // the folder the stand-in reports as a reparse point

DWORD WINAPI AttributesWithJunction(LPCWSTR path) {
    const DWORD attributes = GetFileAttributesW(path);
    return path == junction ? attributes | FILE_ATTRIBUTE_REPARSE_POINT : attributes;
}

}  // namespace

TEST(DestroyFileFolders, EveryFolderDownToTheRootNearestFirstAndNoneWithoutARoot) {
    EXPECT_EQ(FoldersOnPath(L"C:\\a\\b\\c.exe"), (std::vector<std::wstring>{L"C:\\a\\b", L"C:\\a", L"C:\\"}));
    EXPECT_EQ(FoldersOnPath(L"C:\\c.exe"), std::vector<std::wstring>{L"C:\\"});
    EXPECT_EQ(FoldersOnPath(L"\\\\server\\share\\d\\c.exe"),
              (std::vector<std::wstring>{L"\\\\server\\share\\d", L"\\\\server\\share\\"}));
    for (const wchar_t* path : {L"c.exe", L"C:c.exe", L"C:\\", L"\\\\?\\C:\\c.exe", L"\\\\.\\C:\\c.exe",
                                L"\\\\server\\share", L"\\\\\\share\\c.exe", L"\\c.exe"})
        EXPECT_TRUE(FoldersOnPath(path).empty()) << std::string(path, path + wcslen(path));
}

// Whoever owns a folder on the path may change it before or while a question
// is open: swap it (a rename, then a new folder of the same name holding
// another file of the same name), or make it a junction (Wine makes none, so
// the folders' attributes are read through a stand-in). Nothing is deleted or
// scheduled, and the user is told why.
TEST_F(AccessControlPageTest, DestroyFileOfAFolderChangedBeforeOrWhileAskedTouchesNothing) {
    const struct {
        bool swap;  // else a junction
        bool inUse;
        BoxCaptions boxes;  // the change comes while the last question is up, or before a lone refusal
        const wchar_t* reason;
    } cases[] = {
        {true, false, {L"Are you sure?", L"File Protected"}, L"cannot be checked to be the file you chose"},
        {true, true, {L"Are you sure?", L"Schedule Delete on Reboot?", L"File Protected"}, L"cannot be checked"},
        {false, false, {L"File Protected"}, L"lies in a folder that leads to another place"},
        {false, false, {L"Are you sure?", L"File Protected"}, L"leads to another place"},
        {false, true, {L"Are you sure?", L"Schedule Delete on Reboot?", L"File Protected"}, L"another place"},
    };
    SeamOverride<FolderAttributesReader> attributes{folderAttributes, AttributesWithJunction};
    ForgetPendingDeletions();
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        const std::wstring name = L"case" + std::to_wstring(i);
        const std::wstring sub = folder.PathOf(name), moved = sub + L"-moved";
        ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
        const std::wstring program = folder.MakeFile(name + L"\\swapped.exe");
        ClearStoredRights();
        StoreRights(program, std::vector<uint8_t>(42, 0));
        page.reset();
        Open();
        Select(0);
        std::optional<FileInUse> inUse;
        if (c.inUse) inUse.emplace(program);
        const auto change = [&] {
            if (!c.swap)
                junction = sub;
            else if (MoveFileW(sub.c_str(), moved.c_str()) && CreateDirectoryW(sub.c_str(), nullptr))
                folder.MakeFile(name + L"\\swapped.exe");
        };
        MessageBoxRecorder boxes({IDYES, IDYES});
        boxes.whileShown = [&](size_t index) { if (index + 2 == c.boxes.size()) change(); };
        if (c.boxes.size() == 1) change();
        ClickDestroy();
        junction.clear();
        ASSERT_EQ(boxes.Captions(page->window), c.boxes) << i;
        EXPECT_NE(boxes.boxes.back().text.find(c.reason), std::wstring::npos) << i;
        EXPECT_NE(Attributes(program), INVALID_FILE_ATTRIBUTES) << i;
        EXPECT_TRUE(!c.swap || Attributes(moved + L"\\swapped.exe") != INVALID_FILE_ATTRIBUTES) << i;
        EXPECT_FALSE(ListsPending(program)) << i;
    }
}
