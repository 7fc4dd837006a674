// The filter vetting against this test prefix's own registry. Questions go to a
// scripted answerer, or to real message boxes that a helper thread answers.
#include <gtest/gtest.h>
#include <shlwapi.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "SeamOverride.h"
#include "ServiceTestSupport.h"
#include "common/ListDigest.h"
#include "common/RestartRoutine.h"
#include "common/UniqueResource.h"
#include "service/FilterList.h"
#include "service/FilterVetter.h"

using namespace quenvar;
using namespace quenvar::test;

namespace {

constexpr const wchar_t* kCaption = L"Quenvar Lockmere: Filter Driver Detected";

struct Question {
    std::wstring text;
    std::wstring caption;
    UINT style;
};

// Scripted answers: every question is recorded and answered by `answer`.
std::vector<Question> questions;
std::function<int(const std::wstring& caption, const std::wstring& text)> answer;
int ScriptedAsk(const wchar_t* text, const wchar_t* caption, UINT style) {
    questions.push_back({text, caption, style});
    return answer(caption, text);
}

std::atomic<int> restarts{0};
void CountRestart() { ++restarts; }

void SetValue(const wchar_t* keyPath, const wchar_t* name, DWORD type, const std::vector<uint8_t>& data) {
    UniqueRegKey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.receive(),
                              nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key.get(), name, 0, type, data.data(), static_cast<DWORD>(data.size())), ERROR_SUCCESS);
}

// The value's bytes, or nullopt-like empty + false when absent.
bool GetValue(const wchar_t* keyPath, const wchar_t* name, std::vector<uint8_t>* data, DWORD* type = nullptr) {
    data->assign(1 << 20, 0);
    DWORD size = static_cast<DWORD>(data->size());
    DWORD t = 0;
    const LSTATUS status =
        RegGetValueW(HKEY_LOCAL_MACHINE, keyPath, name, RRF_RT_ANY | RRF_NOEXPAND, &t, data->data(), &size);
    data->resize(status == ERROR_SUCCESS ? size : 0);
    if (type) *type = t;
    return status == ERROR_SUCCESS;
}

std::vector<std::wstring> DriversAskedAbout() {
    std::vector<std::wstring> names;
    for (const Question& q : questions) {
        if (q.caption != kCaption) continue;
        const size_t start = q.text.find(L"name is: '") + 10;
        names.push_back(q.text.substr(start, q.text.find(L'\'', start) - start));
    }
    return names;
}

class FilterVetterTest : public ::testing::Test {
protected:
    void SetUp() override {
        SHDeleteKeyW(HKEY_LOCAL_MACHINE, kKeyboardClassKey);
        SHDeleteKeyW(HKEY_LOCAL_MACHINE, kProductKey);
        questions.clear();
        answer = [](const std::wstring&, const std::wstring&) { return IDYES; };
        restarts = 0;
        ASSERT_TRUE(vetter.ReadMachineIdentity());
    }

    void SetUpperFilters(const std::wstring& multi) {
        SetValue(kKeyboardClassKey, L"UpperFilters", REG_MULTI_SZ, Bytes(multi));
    }
    void AnswerNoFor(std::vector<std::wstring> names) {
        answer = [names](const std::wstring& caption, const std::wstring& text) {
            if (caption != kCaption) return IDNO;  // the restart offer
            for (const std::wstring& n : names)
                if (text.find(L"'" + n + L"'") != std::wstring::npos) return IDNO;
            return IDYES;
        };
    }
    // A pass followed by closing its keys, as the thread does before waiting.
    // The wait lasts until the keyboard class's list becomes `list` 300 ms on:
    // it neither ends at once, which would spin, nor never.
    ::testing::AssertionResult WaitsUntilTheListBecomes(FilterVetter::PassOutcome outcome, const std::wstring& list) {
        std::thread changer([&] {
            Sleep(300);
            SetValue(kKeyboardClassKey, L"UpperFilters", REG_MULTI_SZ, Bytes(list));
        });
        const DWORD waited = MillisecondsOf([&] { vetter.WaitForNextChange(outcome); });
        changer.join();
        if (waited >= 100 && waited < 10000) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "the wait took " << waited << " ms";
    }
    FilterVetter::PassOutcome Pass() {
        const auto outcome = vetter.RunPass();
        questionsInPass = questions.size();
        return outcome;
    }
    std::vector<uint8_t> Value(const wchar_t* key, const wchar_t* name) {
        std::vector<uint8_t> data;
        GetValue(key, name, &data);
        return data;
    }
    void ExpectStoredListVerifies(const std::vector<uint8_t>& expectedList) {
        EXPECT_EQ(Value(kKeyboardClassKey, L"UpperFilters"), expectedList);
        EXPECT_EQ(Value(kProductKey, L"KnownFilterDrivers"), expectedList);
        const std::vector<uint8_t> digest = Value(kProductKey, L"KnownFilterDriversBin");
        const Sha1Digest expected = ListDigest(vetter.machineId().data(), vetter.machineId().size(),
                                               expectedList.data(), expectedList.size());
        EXPECT_EQ(digest, std::vector<uint8_t>(expected.begin(), expected.end()));
    }

    quenvar::testing::SeamOverride<void (*)()> noRestart{restartRoutine, CountRestart};
    FilterVetter vetter{ScriptedAsk};
    size_t questionsInPass = 0;
};

}  // namespace

TEST_F(FilterVetterTest, FirstStartAsksAboutEveryDriverButKbdclassAndStoresAVerifyingList) {
    SetUpperFilters(std::wstring(L"KbdClass\0SpyKbd\0Logger\0\0", 24));
    ASSERT_EQ(Pass(), FilterVetter::PassOutcome::kVetted);
    EXPECT_EQ(DriversAskedAbout(), (std::vector<std::wstring>{L"spykbd", L"logger"}));
    for (const Question& q : questions) EXPECT_EQ(q.style, 0x200044u);
    // Everything allowed: all kept, in lower case, and no restart offered.
    ExpectStoredListVerifies(BuildFilterList({L"kbdclass", L"spykbd", L"logger"}));
    EXPECT_EQ(questions.size(), 2u);
    EXPECT_EQ(restarts, 0);

    // Accepted drivers are never asked about again.
    vetter.EndPass();
    questions.clear();
    ASSERT_EQ(Pass(), FilterVetter::PassOutcome::kVetted);
    EXPECT_TRUE(questions.empty());
}

TEST_F(FilterVetterTest, ADriverListedTwiceIsAskedTwiceAndEachNoRemovesOneOccurrence) {
    SetUpperFilters(std::wstring(L"spy\0kbdclass\0SPY\0\0", 18));
    int asked = 0;
    answer = [&](const std::wstring& caption, const std::wstring&) {
        if (caption != kCaption) return IDNO;
        return ++asked == 1 ? IDNO : IDYES;
    };
    ASSERT_EQ(Pass(), FilterVetter::PassOutcome::kVetted);
    EXPECT_EQ(DriversAskedAbout(), (std::vector<std::wstring>{L"spy", L"spy"}));
    ExpectStoredListVerifies(BuildFilterList({L"kbdclass", L"spy"}));
}

TEST_F(FilterVetterTest, DenialOnTheFirstPassOffersTheRestartAndALaterDenialDoesNot) {
    SetUpperFilters(std::wstring(L"spy\0\0", 5));
    AnswerNoFor({L"spy", L"late"});
    ASSERT_EQ(Pass(), FilterVetter::PassOutcome::kVetted);
    ASSERT_EQ(questions.size(), 2u);
    EXPECT_EQ(questions[1].caption, L"Reboot?");
    EXPECT_EQ(questions[1].text,
              L"Quenvar Lockmere has unloaded the denied keyboard filter drivers. You must reboot your computer for "
              L"the changes to take effect.\n\nWould you like to reboot now?");
    EXPECT_EQ(questions[1].style, 0x200024u);
    EXPECT_EQ(restarts, 0);  // answered No
    // Denying every driver writes the empty list: a single NUL.
    ExpectStoredListVerifies(std::vector<uint8_t>{0, 0});

    vetter.EndPass();
    SetUpperFilters(std::wstring(L"late\0\0", 6));
    questions.clear();
    ASSERT_EQ(Pass(), FilterVetter::PassOutcome::kVetted);
    EXPECT_EQ(DriversAskedAbout(), std::vector<std::wstring>{L"late"});
    EXPECT_EQ(questions.size(), 1u);  // no restart offer
}

TEST_F(FilterVetterTest, RestartRoutineRunsOnlyWhenTheRestartIsAccepted) {
    SetUpperFilters(std::wstring(L"spy\0\0", 5));
    answer = [](const std::wstring& caption, const std::wstring&) { return caption == kCaption ? IDNO : IDYES; };
    ASSERT_EQ(Pass(), FilterVetter::PassOutcome::kVetted);
    EXPECT_EQ(restarts, 1);
}

TEST_F(FilterVetterTest, AnEmptyEntryEndsTheListAndWhatFollowsIsDropped) {
    SetUpperFilters(std::wstring(L"first\0\0second\0\0", 15));
    ASSERT_EQ(Pass(), FilterVetter::PassOutcome::kVetted);
    EXPECT_EQ(DriversAskedAbout(), std::vector<std::wstring>{L"first"});
    ExpectStoredListVerifies(BuildFilterList({L"first"}));
}

TEST_F(FilterVetterTest, AKnownListThatDoesNotVerifyCountsAsAbsent) {
    const std::vector<uint8_t> list = BuildFilterList({L"spy"});
    const Sha1Digest good = ListDigest(vetter.machineId().data(), vetter.machineId().size(), list.data(), list.size());
    const std::vector<uint8_t> otherMachine(20, 0x5A);
    const Sha1Digest foreign = ListDigest(otherMachine.data(), otherMachine.size(), list.data(), list.size());
    const std::vector<std::vector<uint8_t>> badDigests = {
        std::vector<uint8_t>(good.begin(), good.begin() + 19),
        [&] {
            std::vector<uint8_t> d(good.begin(), good.end());
            d.push_back(0);
            return d;
        }(),
        std::vector<uint8_t>(foreign.begin(), foreign.end()),
    };
    for (const auto& digest : badDigests) {
        questions.clear();
        vetter.EndPass();
        SetUpperFilters(std::wstring(L"spy\0\0", 5));
        SetValue(kProductKey, L"KnownFilterDrivers", REG_MULTI_SZ, list);
        SetValue(kProductKey, L"KnownFilterDriversBin", REG_BINARY, digest);
        ASSERT_EQ(Pass(), FilterVetter::PassOutcome::kVetted);
        EXPECT_EQ(DriversAskedAbout(), std::vector<std::wstring>{L"spy"}) << digest.size();
        ExpectStoredListVerifies(list);  // and freshly signed
    }
    // The same list with its own digest is trusted.
    questions.clear();
    vetter.EndPass();
    ASSERT_EQ(Pass(), FilterVetter::PassOutcome::kVetted);
    EXPECT_TRUE(questions.empty());
}

// The known list is bound to the machine's product id: signed under one id it
// is trusted there, and asked about again under an id that differs only in its
// last byte.
TEST_F(FilterVetterTest, AKnownListVerifiesOnlyUnderTheIdentityItWasSignedWith) {
    constexpr const wchar_t* kIdentityKey = L"Software\\Microsoft\\Windows NT\\CurrentVersion";
    struct Restore {
        std::vector<uint8_t> saved;
        bool had = GetValue(kIdentityKey, L"DigitalProductId", &saved);
        ~Restore() {
            if (had) SetValue(kIdentityKey, L"DigitalProductId", REG_BINARY, saved);
            else SHDeleteValueW(HKEY_LOCAL_MACHINE, kIdentityKey, L"DigitalProductId");
        }
    } restore;
    std::vector<uint8_t> ours(164);
    for (size_t i = 0; i < ours.size(); ++i) ours[i] = static_cast<uint8_t>(i * 7 + 1);
    std::vector<uint8_t> theirs = ours;
    theirs.back() ^= 1;
    const std::vector<uint8_t> list = BuildFilterList({L"spy"});
    const Sha1Digest signedHere = ListDigest(ours.data(), ours.size(), list.data(), list.size());

    for (const auto& [identity, trusted] : {std::pair{ours, true}, std::pair{theirs, false}}) {
        SetValue(kIdentityKey, L"DigitalProductId", REG_BINARY, identity);
        FilterVetter fresh{ScriptedAsk};
        ASSERT_TRUE(fresh.ReadMachineIdentity());
        EXPECT_EQ(fresh.machineId(), identity);
        SetUpperFilters(std::wstring(L"spy\0\0", 5));
        SetValue(kProductKey, L"KnownFilterDrivers", REG_MULTI_SZ, list);
        SetValue(kProductKey, L"KnownFilterDriversBin", REG_BINARY,
                 std::vector<uint8_t>(signedHere.begin(), signedHere.end()));
        questions.clear();
        ASSERT_EQ(fresh.RunPass(), FilterVetter::PassOutcome::kVetted);
        fresh.EndPass();
        EXPECT_EQ(DriversAskedAbout(), trusted ? std::vector<std::wstring>{} : std::vector<std::wstring>{L"spy"})
            << trusted;
    }
}

TEST_F(FilterVetterTest, MalformedUpperFiltersAreParsedWithinTheirData) {
    std::vector<uint8_t> odd = Bytes(L"Spy");  // no final NUL
    odd.push_back(0x7F);                       // and an odd byte count
    SetValue(kKeyboardClassKey, L"UpperFilters", REG_MULTI_SZ, odd);
    ASSERT_EQ(Pass(), FilterVetter::PassOutcome::kVetted);
    EXPECT_EQ(DriversAskedAbout(), std::vector<std::wstring>{L"spy"});
    ExpectStoredListVerifies(BuildFilterList({L"spy"}));
}

TEST_F(FilterVetterTest, WithoutTheClassKeyOrItsListNothingIsVettedOrWritten) {
    EXPECT_EQ(Pass(), FilterVetter::PassOutcome::kNoClassKey);
    vetter.EndPass();
    SetValue(kKeyboardClassKey, L"Other", REG_SZ, Bytes(std::wstring(L"x\0", 2)));
    EXPECT_EQ(Pass(), FilterVetter::PassOutcome::kNoFilters);
    SetValue(kKeyboardClassKey, L"UpperFilters", REG_MULTI_SZ, {});  // size 0 counts as absent
    EXPECT_EQ(Pass(), FilterVetter::PassOutcome::kNoFilters);
    std::vector<uint8_t> data;
    EXPECT_FALSE(GetValue(kProductKey, L"KnownFilterDrivers", &data));
    EXPECT_FALSE(GetValue(kProductKey, L"KnownFilterDriversBin", &data));
    EXPECT_TRUE(questions.empty());
}

TEST_F(FilterVetterTest, TheWaitEndsWhenTheClassKeyChanges) {
    SetUpperFilters(std::wstring(L"kbdclass\0\0", 10));
    ASSERT_EQ(Pass(), FilterVetter::PassOutcome::kVetted);
    EXPECT_TRUE(WaitsUntilTheListBecomes(FilterVetter::PassOutcome::kVetted, std::wstring(L"kbdclass\0new\0\0", 14)));
    ASSERT_EQ(Pass(), FilterVetter::PassOutcome::kVetted);
    EXPECT_EQ(DriversAskedAbout(), std::vector<std::wstring>{L"new"});
}

TEST_F(FilterVetterTest, WithoutUpperFiltersTheWaitEndsWhenTheListAppears) {
    SetValue(kKeyboardClassKey, L"Other", REG_SZ, Bytes(std::wstring(L"x\0", 2)));
    ASSERT_EQ(Pass(), FilterVetter::PassOutcome::kNoFilters);
    EXPECT_TRUE(WaitsUntilTheListBecomes(FilterVetter::PassOutcome::kNoFilters, std::wstring(L"late\0\0", 6)));
}

// The same pass with real message boxes, found by caption and answered.
TEST_F(FilterVetterTest, RealPromptsAreAnsweredYesAndNo) {
    SetUpperFilters(std::wstring(L"keep\0drop\0\0", 11));
    std::atomic<bool> done{false};
    std::vector<std::wstring> seen;
    std::thread answerer([&] {
        // A box takes a moment to go away once answered: skip it until then.
        HWND lastBox = nullptr;
        std::wstring lastText;
        while (!done) {
            for (const wchar_t* caption : {kCaption, L"Reboot?"}) {
                HWND box = FindWindowW(L"#32770", caption);
                if (box == nullptr || !IsWindowVisible(box)) continue;
                wchar_t text[2048] = {};
                GetDlgItemTextW(box, 0xFFFF, text, 2048);  // the box's message text
                if (text[0] == L'\0' || (box == lastBox && lastText == text)) continue;
                lastBox = box;
                lastText = text;
                seen.push_back(text);
                const bool no = std::wstring(text).find(L"'drop'") != std::wstring::npos || caption[0] == L'R';
                PostMessageW(box, WM_COMMAND, no ? IDNO : IDYES, 0);
            }
            Sleep(50);
        }
    });
    FilterVetter real([](const wchar_t* text, const wchar_t* caption, UINT style) {
        // In a test the box goes to this desktop rather than the service's.
        return MessageBoxW(nullptr, text, caption, style & ~MB_SERVICE_NOTIFICATION);
    });
    ASSERT_TRUE(real.ReadMachineIdentity());
    EXPECT_EQ(real.RunPass(), FilterVetter::PassOutcome::kVetted);
    done = true;
    answerer.join();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_NE(seen[0].find(L"'keep'"), std::wstring::npos);
    EXPECT_NE(seen[1].find(L"'drop'"), std::wstring::npos);
    EXPECT_EQ(restarts, 0);
    ExpectStoredListVerifies(BuildFilterList({L"keep"}));
}

// The pass at service start may end early (no class key, no list); a denial in
// a later pass is then not the start's and offers no restart.
TEST_F(FilterVetterTest, AFirstPassThatEndsEarlyStillEndsTheRestartOffer) {
    AnswerNoFor({L"spy"});
    ASSERT_EQ(Pass(), FilterVetter::PassOutcome::kNoClassKey);
    vetter.EndPass();
    SetUpperFilters(std::wstring(L"spy\0\0", 5));
    ASSERT_EQ(Pass(), FilterVetter::PassOutcome::kVetted);
    EXPECT_EQ(DriversAskedAbout(), std::vector<std::wstring>{L"spy"});
    EXPECT_EQ(questions.size(), 1u);  // no "Reboot?"
    EXPECT_EQ(restarts, 0);
    ExpectStoredListVerifies(std::vector<uint8_t>{0, 0});
}
