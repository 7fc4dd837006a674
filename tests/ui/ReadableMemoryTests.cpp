#include <gtest/gtest.h>

#include <windows.h>

#include "ui/ReadableMemory.h"

using namespace quenvar;

TEST(ReadableMemory, OnlyCommittedReadableRangesPass) {
    const int local = 7;
    EXPECT_TRUE(IsReadableMemory(&local, sizeof(local)));
    EXPECT_FALSE(IsReadableMemory(nullptr, 4));
    EXPECT_FALSE(IsReadableMemory(reinterpret_cast<const void*>(0x10), 4));
    EXPECT_FALSE(IsReadableMemory(reinterpret_cast<const void*>(~uintptr_t(0) - 2), 8));  // wraps around
    EXPECT_FALSE(IsReadableMemory(&local, 0));

    SYSTEM_INFO system = {};
    GetSystemInfo(&system);
    const size_t page = system.dwPageSize;
    // Two committed pages, the second made unreadable, and one only reserved.
    auto* base = static_cast<char*>(VirtualAlloc(nullptr, 3 * page, MEM_RESERVE, PAGE_NOACCESS));
    ASSERT_NE(base, nullptr);
    ASSERT_NE(VirtualAlloc(base, 2 * page, MEM_COMMIT, PAGE_READWRITE), nullptr);
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(base + page, page, PAGE_NOACCESS, &old));
    EXPECT_TRUE(IsReadableMemory(base, page));
    EXPECT_TRUE(IsReadableMemory(base + page - 8, 8));
    EXPECT_FALSE(IsReadableMemory(base + page - 8, 16));  // runs into the unreadable page
    EXPECT_FALSE(IsReadableMemory(base + page, 1));
    EXPECT_FALSE(IsReadableMemory(base + 2 * page, 1));  // reserved only
    VirtualFree(base, 0, MEM_RELEASE);
}
