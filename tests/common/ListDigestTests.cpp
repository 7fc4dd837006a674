#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "common/ListDigest.h"

using namespace quenvar;

namespace {

// Identity bytes and a multi-string list "kbdclass" with both terminating NULs.
const uint8_t kIdentity[] = {'I', 'D', 0x01, 0x02};
const wchar_t kList[] = L"kbdclass\0";  // the literal adds the second NUL
static_assert(sizeof(kList) == 20);

const uint8_t* ListBytes() { return reinterpret_cast<const uint8_t*>(kList); }

// sha1sum of the 24 bytes 49 44 01 02 6b 00 62 00 ... 73 00 00 00 00 00.
const Sha1Digest kExpected = {0x00, 0x72, 0x05, 0x5a, 0x87, 0xc1, 0x9a, 0x9b, 0x22, 0xf0,
                              0xb5, 0xff, 0xed, 0x55, 0x5b, 0x46, 0x63, 0x65, 0x12, 0x95};

}  // namespace

TEST(ListDigest, IsPlainSha1OfIdentityThenList) {
    EXPECT_EQ(ListDigest(kIdentity, sizeof kIdentity, ListBytes(), sizeof kList), kExpected);

    // No separator or length goes in between: only the concatenation counts.
    std::vector<uint8_t> whole(kIdentity, kIdentity + sizeof kIdentity);
    whole.insert(whole.end(), ListBytes(), ListBytes() + sizeof kList);
    EXPECT_EQ(ListDigest(whole.data(), 6, whole.data() + 6, whole.size() - 6), kExpected);
    EXPECT_EQ(ListDigest(nullptr, 0, whole.data(), whole.size()), kExpected);
}

TEST(ListDigest, DependsOnTheMachineIdentityAndOnEveryListByte) {
    const uint8_t otherIdentity[] = {'I', 'D', 0x01, 0x03};
    EXPECT_NE(ListDigest(otherIdentity, sizeof otherIdentity, ListBytes(), sizeof kList), kExpected);
    // The list without its final NUL is another list.
    EXPECT_NE(ListDigest(kIdentity, sizeof kIdentity, ListBytes(), sizeof kList - 2), kExpected);
    // Without an identity the digest is that of the list alone.
    EXPECT_EQ(ListDigest(nullptr, 0, ListBytes(), sizeof kList), Sha1Of(ListBytes(), sizeof kList));
}

TEST(ListDigest, StoredDigestMatchesOnlyAtExactlyTwentyEqualBytes) {
    uint8_t stored[21];
    std::memcpy(stored, kExpected.data(), 20);
    stored[20] = 0;
    EXPECT_TRUE(ListDigestMatches(stored, 20, kExpected));
    EXPECT_FALSE(ListDigestMatches(stored, 19, kExpected));
    EXPECT_FALSE(ListDigestMatches(stored, 21, kExpected));
    EXPECT_FALSE(ListDigestMatches(stored, 0, kExpected));
    EXPECT_FALSE(ListDigestMatches(nullptr, 20, kExpected));
    for (size_t i = 0; i < 20; ++i) {
        stored[i] ^= 0x40;
        EXPECT_FALSE(ListDigestMatches(stored, 20, kExpected)) << "byte " << i;
        stored[i] ^= 0x40;
    }
}
