#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ServiceTestSupport.h"
#include "service/FilterList.h"

using namespace quenvar;
using quenvar::test::Bytes;

namespace {

FilterList Parse(const std::vector<uint8_t>& data) { return ParseFilterList(data.data(), data.size()); }

}  // namespace

TEST(FilterListParse, EntriesAreLowerCasedInOrderWithDuplicatesKept) {
    const std::wstring text(L"KbdClass\0SpyKbd\0spykbd\0Zed-\u00C4\0\0", 30);
    EXPECT_EQ(Parse(Bytes(text)), (FilterList{L"kbdclass", L"spykbd", L"spykbd", L"zed-\u00C4"}));
}

TEST(FilterListParse, AnEmptyEntryEndsTheList) {
    EXPECT_EQ(Parse(Bytes(std::wstring(L"a\0\0b\0\0", 6))), FilterList{L"a"});
    EXPECT_EQ(Parse(Bytes(std::wstring(L"\0a\0\0", 4))), FilterList{});
}

TEST(FilterListParse, MalformedDataIsReadOnlyWithinItsBytes) {
    // No final NUL: the last entry ends with the data.
    EXPECT_EQ(Parse(Bytes(L"one")), FilterList{L"one"});
    // An odd byte count: the stray byte is ignored.
    std::vector<uint8_t> odd = Bytes(std::wstring(L"ab\0", 3));
    odd.push_back(0x41);
    EXPECT_EQ(Parse(odd), FilterList{L"ab"});
    // Nothing at all, or a single byte.
    EXPECT_EQ(ParseFilterList(nullptr, 100), FilterList{});
    const uint8_t one = 'x';
    EXPECT_EQ(ParseFilterList(&one, 1), FilterList{});
    // A buffer whose bytes after the stated size would add an entry: it is not read.
    const std::vector<uint8_t> longer = Bytes(std::wstring(L"ab\0cd\0\0", 7));
    EXPECT_EQ(ParseFilterList(longer.data(), 6), FilterList{L"ab"});
    // An enormous value with no terminator at all is one long entry.
    const std::wstring huge(512 * 1024, L'Q');
    const FilterList parsed = Parse(Bytes(huge));
    ASSERT_EQ(parsed.size(), 1u);
    EXPECT_EQ(parsed[0], std::wstring(512 * 1024, L'q'));
}

TEST(FilterListParse, UnalignedDataIsRead) {
    std::vector<uint8_t> data(1, 0);
    const std::vector<uint8_t> list = Bytes(std::wstring(L"abc\0\0", 5));
    data.insert(data.end(), list.begin(), list.end());
    EXPECT_EQ(ParseFilterList(data.data() + 1, list.size()), FilterList{L"abc"});
}

TEST(FilterListBuild, NamesEachEndWithANulAndTheListWithOneMore) {
    EXPECT_EQ(BuildFilterList({L"kbdclass", L"spy"}), Bytes(std::wstring(L"kbdclass\0spy\0\0", 14)));
    EXPECT_EQ(BuildFilterList({}), Bytes(std::wstring(L"\0", 1)));
    const std::vector<uint8_t> round = BuildFilterList({L"a", L"bb", L"a"});
    EXPECT_EQ(Parse(round), (FilterList{L"a", L"bb", L"a"}));
}

TEST(FilterListCompare, UnvettedKeepsOrderAndDuplicates) {
    EXPECT_EQ(UnvettedFilters({L"spy", L"kbdclass", L"spy", L"ok"}, {L"ok", L"kbdclass"}),
              (FilterList{L"spy", L"spy"}));
    // Equal means same length and same characters.
    EXPECT_EQ(UnvettedFilters({L"kbdclass2", L"kbd"}, {L"kbdclass"}), (FilterList{L"kbdclass2", L"kbd"}));
}

TEST(FilterListCompare, RemoveFirstTakesOneOccurrenceFromTheStart) {
    FilterList list{L"spy", L"kbdclass", L"spy"};
    EXPECT_TRUE(RemoveFirst(&list, L"spy"));
    EXPECT_EQ(list, (FilterList{L"kbdclass", L"spy"}));
    EXPECT_FALSE(RemoveFirst(&list, L"other"));
    EXPECT_EQ(list.size(), 2u);
}
