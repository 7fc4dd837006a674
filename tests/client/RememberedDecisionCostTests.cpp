// What a remembered decision no longer repeats: the second translation of a
// module that is the process's own file. Each case also shows that the reply,
// the log and the store end up as they did before.
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>
#include <vector>

#include "client/DevicePathTranslator.h"
#include "client/EventJudge.h"
#include "client/LogSink.h"
#include "client/PathField.h"
#include "client/RightsStore.h"
#include "common/WideFormat.h"
#include "ClientTestSupport.h"
#include "SeamOverride.h"

using namespace quenvar;
using namespace quenvar::testing;

namespace {

constexpr const wchar_t* kRightsKey = L"Software\\Quenvar\\Lockmere\\Rights\\";

std::vector<std::wstring> expanded;
std::wstring CountingExpander(const std::wstring& path) {
    expanded.push_back(path);
    return LongFormOf(path);
}

std::vector<std::wstring> logged;
void RecordLine(const wchar_t* format, va_list args) {
    wchar_t text[1024];
    FormatIntoV(text, 1024, format, args);
    logged.push_back(text);
}

class RememberedDecisionCost : public ::testing::Test {
protected:
    RememberedDecisionCost() : savedSink(logSink) { logSink = RecordLine; }
    ~RememberedDecisionCost() override { logSink = savedSink; }
    void SetUp() override {
        expanded.clear();
        logged.clear();
        LoadKindTexts();
    }
    LogSink savedSink;
    SeamOverride<LongFormFinder> finder{longFormFinder, CountingExpander};
};

}  // namespace

TEST_F(RememberedDecisionCost, AModuleThatIsTheProcessFileIsTranslatedOnceAndJudgedAsBefore) {
    const std::wstring allowed = TempProgram(L"quenvar cost allowed.exe", 1);
    const std::wstring denied = TempProgram(L"quenvar cost denied.exe", 2);
    RememberRights(allowed, 0, 0x02);
    RememberRights(denied, 0x02, 0);
    // The process's own short form, so that expansion really changes the path.
    wchar_t shortForm[MAX_PATH] = {};
    GetShortPathNameW(allowed.c_str(), shortForm, MAX_PATH);

    struct Case {
        const wchar_t* name;
        std::wstring process, module;
        std::vector<std::wstring> expansions;
        uint32_t allow;
        std::vector<std::wstring> log;
    };
    const std::wstring deniedLine = L"Blocked illegal keyboard hook in '" + denied + L"'";
    const Case cases[] = {
        {L"same file", allowed, allowed, {allowed}, 1, {}},
        {L"same short form", shortForm, shortForm, {shortForm}, 1, {}},
        // Fields that differ only in spelling are two translations, as before.
        {L"short and long form", shortForm, allowed, {shortForm, allowed}, 1, {}},
        {L"denied module", allowed, denied, {allowed, denied}, 0, {deniedLine}},
        {L"denied process", denied, denied, {denied}, 0, {deniedLine}},
    };
    RightsStore& store = TheRightsStore();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        expanded.clear();
        logged.clear();
        // A fresh cache for each case: the rights are read from the registry.
        store.processCaches.erase(GetCurrentProcessId());
        DevicePathTranslator translator;
        AccessEvent event = {};
        event.eventId = 77;
        event.breachKind = kKeyboardHook;
        event.processId = GetCurrentProcessId();
        StorePathField(event.processPath, c.process);
        StorePathField(event.modulePath, c.module);
        const AccessReply reply = JudgeEvent(event, translator);
        EXPECT_EQ(reply.eventId, 77u);
        EXPECT_EQ(reply.allow, c.allow);
        EXPECT_EQ(expanded, c.expansions);
        EXPECT_EQ(logged, c.log);
        // Both judged paths are the long ones: the cache holds them, not the short form.
        ASSERT_NE(store.processCaches.count(GetCurrentProcessId()), 0u);
        const auto& rights = store.processCaches[GetCurrentProcessId()]->rights;
        EXPECT_EQ(rights.count(c.process == denied ? denied : allowed), 1u);
        EXPECT_EQ(rights.count(shortForm), 0u);
    }
    store.processCaches.erase(GetCurrentProcessId());
    RegDeleteKeyW(HKEY_CURRENT_USER, kRightsKey);
    DeleteFileW(allowed.c_str());
    DeleteFileW(denied.c_str());
}

TEST_F(RememberedDecisionCost, ALiveProcessKeepsItsLongFormsUntilTheFileIsRenamed) {
    const std::wstring before = TempProgram(L"quenvar cost renamed long name.exe", 3);
    wchar_t shortForm[MAX_PATH] = {};
    ASSERT_NE(GetShortPathNameW(before.c_str(), shortForm, MAX_PATH), 0u);
    ASSERT_NE(std::wstring(shortForm), before);
    RememberRights(before, 0, 0x02);
    DevicePathTranslator translator;
    TheRightsStore().processCaches.erase(GetCurrentProcessId());
    AccessEvent event = {};
    event.breachKind = kKeyboardHook;
    event.processId = GetCurrentProcessId();
    StorePathField(event.processPath, shortForm);
    StorePathField(event.modulePath, shortForm);
    const auto judge = [&] {
        expanded.clear();
        logged.clear();
        return JudgeEvent(event, translator).allow;
    };
    EXPECT_EQ(judge(), 1u);
    EXPECT_EQ(expanded, std::vector<std::wstring>{shortForm});
    // The same live process again: its long form is still there, so no folder
    // is searched, and the answer is the remembered one.
    EXPECT_EQ(judge(), 1u);
    EXPECT_EQ(expanded, std::vector<std::wstring>{});
    EXPECT_EQ(logged, std::vector<std::wstring>{});

    // Gone from under its long name: the next event of the same live process
    // is translated afresh and judged under the unexpanded path, as if no
    // long form had been remembered; that path is denied here.
    const std::wstring after = before + L".moved";
    ASSERT_TRUE(MoveFileW(before.c_str(), after.c_str()));
    RememberRights(shortForm, 0x02, 0);
    EXPECT_EQ(judge(), 0u);
    EXPECT_EQ(expanded, std::vector<std::wstring>{shortForm});
    EXPECT_EQ(logged, std::vector<std::wstring>{L"Blocked illegal keyboard hook in '" + std::wstring(shortForm) + L"'"});
    // Back under its long name: found again by a search, not by the table.
    ASSERT_TRUE(MoveFileW(after.c_str(), before.c_str()));
    EXPECT_EQ(judge(), 1u);
    EXPECT_EQ(expanded, std::vector<std::wstring>{shortForm});

    // An ended process whose id comes back gets a fresh cache, and with it a
    // fresh search.
    TheRightsStore().processCaches.erase(GetCurrentProcessId());
    EXPECT_EQ(judge(), 1u);
    EXPECT_EQ(expanded, std::vector<std::wstring>{shortForm});
    TheRightsStore().processCaches.erase(GetCurrentProcessId());
    RegDeleteKeyW(HKEY_CURRENT_USER, kRightsKey);
    DeleteFileW(before.c_str());
}

TEST_F(RememberedDecisionCost, RememberedLongFormsAreKeyedByDrivePathAndBounded) {
    DevicePathTranslator translator;
    // Chosen drives: a volume that comes later gives another drive path, and
    // so another entry, never the long form of the old one.
    translator.deviceToDrive = {{L"\\Device\\HarddiskVolume1", L"C:"}};
    static bool present = true;
    SeamOverride<PathPresence> presence{pathPresence, [](const std::wstring&) { return present; }};
    SeamOverride<LongFormFinder> marking{longFormFinder, [](const std::wstring& path) {
        expanded.push_back(path);
        return path.find(L"gone") == std::wstring::npos ? path + L"~long" : std::wstring();
    }};
    LongForms remembered;
    EXPECT_EQ(translator.ToDosPath(L"\\Device\\HarddiskVolume1\\a.exe", remembered), L"C:\\a.exe~long");
    EXPECT_EQ(translator.ToDosPath(L"\\Device\\HarddiskVolume1\\a.exe", remembered), L"C:\\a.exe~long");
    EXPECT_EQ(expanded, std::vector<std::wstring>{L"C:\\a.exe"});
    translator.deviceToDrive = {{L"\\Device\\HarddiskVolume1", L"D:"}};
    EXPECT_EQ(translator.ToDosPath(L"\\Device\\HarddiskVolume1\\a.exe", remembered), L"D:\\a.exe~long");
    // A long form that no longer names a file is searched for again.
    present = false;
    EXPECT_EQ(translator.ToDosPath(L"\\Device\\HarddiskVolume1\\a.exe", remembered), L"D:\\a.exe~long");
    EXPECT_EQ(expanded, (std::vector<std::wstring>{L"C:\\a.exe", L"D:\\a.exe", L"D:\\a.exe"}));
    present = true;
    // A path without a long form is not remembered: each event searches.
    expanded.clear();
    EXPECT_EQ(translator.ToDosPath(L"\\Device\\HarddiskVolume1\\gone.exe", remembered), L"D:\\gone.exe");
    EXPECT_EQ(translator.ToDosPath(L"\\Device\\HarddiskVolume1\\gone.exe", remembered), L"D:\\gone.exe");
    EXPECT_EQ(expanded, (std::vector<std::wstring>{L"D:\\gone.exe", L"D:\\gone.exe"}));
    // Many paths of one process: the table starts afresh instead of growing.
    for (size_t i = 0; i < 3 * kMaxLongForms; ++i)
        translator.ToDosPath(L"\\Device\\HarddiskVolume1\\m" + std::to_wstring(i) + L".dll", remembered);
    EXPECT_LE(remembered.size(), kMaxLongForms);
    EXPECT_GT(remembered.size(), 0u);
}
