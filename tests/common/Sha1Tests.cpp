#include <gtest/gtest.h>

#include "TempFile.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "common/Sha1.h"

using namespace quenvar;
using quenvar::testing::TempFile;

namespace {

std::string Hex(const Sha1Digest& digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

Sha1Digest DigestOf(Sha1& sha) {
    sha.Final();
    Sha1Digest digest;
    sha.CopyDigest(digest.data());
    return digest;
}

const std::string kAbc = "abc";
const std::string kTwoBlockMessage = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const std::string kMillionA(1000000, 'a');

// FIPS 180-1, appendix A to C.
constexpr const char* kAbcDigest = "a9993e364706816aba3e25717850c26c9cd0d89d";
constexpr const char* kTwoBlockDigest = "84983e441c3bd26ebaae4aa1f95129e5e54670f1";
constexpr const char* kMillionADigest = "34aa973cd4c4daa4f61eeb2bdbad27316534016f";
constexpr const char* kEmptyDigest = "da39a3ee5e6b4b0d3255bfef95601890afd80709";

// Test files hold a deterministic pattern. Their expected digests were computed
// on Linux with coreutils' sha1sum, independently of this code, with
//   python3 -c "import sys; sys.stdout.buffer.write(
//       bytes(((i*31)+(i>>11)) & 0xFF for i in range(N)))" | sha1sum
// Embedding them keeps the tests free of any tool inside Wine. The pattern's
// period (512 KiB) lines up neither with 64-byte blocks nor with 32000-byte chunks.
uint8_t PatternByte(uint32_t i) { return uint8_t(i * 31u + (i >> 11)); }

std::vector<uint8_t> Pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = PatternByte(uint32_t(i));
    return bytes;
}

struct PatternFile {
    size_t size;
    const char* sha1sum;
};

const PatternFile kPatternFiles[] = {
    {0, "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
    {31999, "a2b94f993afb36eb8eebbe66ab6065cfb89cddac"},
    {32000, "8acff19d95245a1f602813c7646792d9d9db84ff"},
    {32001, "cf65c75497edbcf6f8b5a235841b42540b66ec61"},
    {64000, "8a67b7b94db4a1370a6635da2ccd236d295057c9"},
    {5242887, "699c698eff3fb3e73944f58b2679d16a44ee8fc7"},
};

// The first 40000 bytes of the pattern, computed the same way.
constexpr const char* kPattern40000Digest = "36ca7538af257d80d043ca1a6f4ddfd25df4c1e0";


// Puts a stand-in file reader in place for one test.
class ReaderOverride {
public:
    explicit ReaderOverride(Sha1FileReader reader) : saved_(sha1FileReader) { sha1FileReader = reader; }
    ~ReaderOverride() { sha1FileReader = saved_; }

private:
    Sha1FileReader saved_;
};

std::vector<size_t> requestedChunks;

size_t RecordingReader(void* buffer, size_t count, FILE* file) {
    requestedChunks.push_back(count);
    return ReadFileChunk(buffer, count, file);
}

}  // namespace

TEST(Sha1, GivesTheStandardDigestsInOneUpdate) {
    EXPECT_EQ(Hex(Sha1Of(kAbc.data(), kAbc.size())), kAbcDigest);
    EXPECT_EQ(Hex(Sha1Of(kTwoBlockMessage.data(), kTwoBlockMessage.size())), kTwoBlockDigest);
    EXPECT_EQ(Hex(Sha1Of(kMillionA.data(), kMillionA.size())), kMillionADigest);
    EXPECT_EQ(Hex(Sha1Of(nullptr, 0)), kEmptyDigest);
}

TEST(Sha1, GivesTheSameDigestsWhateverTheUpdateSizes) {
    // Odd piece sizes, so that pieces start and end at every offset of a block.
    const uint32_t kPieceSizes[] = {1, 3, 7, 13, 63, 64, 65, 127, 5, 200};
    const struct {
        const std::string* message;
        const char* digest;
    } cases[] = {{&kAbc, kAbcDigest}, {&kTwoBlockMessage, kTwoBlockDigest}, {&kMillionA, kMillionADigest}};
    for (const auto& c : cases) {
        for (size_t start = 0; start < std::size(kPieceSizes); ++start) {
            Sha1 sha;
            size_t offset = 0;
            for (size_t piece = start; offset < c.message->size(); ++piece) {
                const size_t size = std::min<size_t>(kPieceSizes[piece % std::size(kPieceSizes)],
                                                     c.message->size() - offset);
                sha.Update(c.message->data() + offset, uint32_t(size));
                sha.Update(c.message->data(), 0);  // empty updates change nothing
                offset += size;
            }
            EXPECT_EQ(Hex(DigestOf(sha)), c.digest) << "message of " << c.message->size()
                                                    << " bytes, first piece size index " << start;
        }
    }
}

TEST(Sha1, PaddingIsRightAroundEveryBlockBoundary) {
    // Messages whose length puts the padding in the same block or spills it
    // into the next one; each fed whole and byte by byte must agree.
    for (size_t length = 50; length <= 130; ++length) {
        const std::vector<uint8_t> message = Pattern(length);
        Sha1 bytewise;
        for (uint8_t byte : message) bytewise.Update(&byte, 1);
        EXPECT_EQ(DigestOf(bytewise), Sha1Of(message.data(), message.size())) << length;
    }
    // Lengths 55, 56 and 64 against sha1sum of the million-'a' message prefixes.
    EXPECT_EQ(Hex(Sha1Of(kMillionA.data(), 55)), "c1c8bbdc22796e28c0e15163d20899b65621d65a");
    EXPECT_EQ(Hex(Sha1Of(kMillionA.data(), 56)), "c2db330f6083854c99d4b5bfb6e8f29f201be699");
    EXPECT_EQ(Hex(Sha1Of(kMillionA.data(), 64)), "0098ba824b5c16427bd7a1122a5a442a25ec644d");
}

TEST(Sha1, LengthCarriesIntoTheHighWord) {
    // 2^29 + 3 bytes: the bit length passes 2^32. Expected value from
    //   head -c 536870915 /dev/zero | sha1sum
    const std::vector<uint8_t> zeros(1u << 20, 0);
    Sha1 sha;
    for (int i = 0; i < 512; ++i) sha.Update(zeros.data(), uint32_t(zeros.size()));
    sha.Update(zeros.data(), 3);
    EXPECT_EQ(Hex(DigestOf(sha)), "b28134b042220c2b14020c385afce20377858cf2");
}

TEST(Sha1, ResetAfterFinalStartsAFreshDigest) {
    Sha1 sha;
    sha.Update(kMillionA.data(), 1000);
    sha.Final();
    sha.Reset();
    sha.Update(kAbc.data(), uint32_t(kAbc.size()));
    EXPECT_EQ(Hex(DigestOf(sha)), kAbcDigest);

    // A second object interleaved with the first does not disturb it.
    Sha1 first;
    Sha1 second;
    first.Update(kTwoBlockMessage.data(), 30);
    second.Update(kMillionA.data(), 777);
    EXPECT_EQ(Hex(DigestOf(second)), Hex(Sha1Of(kMillionA.data(), 777)));
    first.Update(kTwoBlockMessage.data() + 30, uint32_t(kTwoBlockMessage.size() - 30));
    EXPECT_EQ(Hex(DigestOf(first)), kTwoBlockDigest);
}

TEST(Sha1, MaskDigestXorsEveryByteWithTheKey) {
    Sha1 sha;
    sha.Update(kAbc.data(), uint32_t(kAbc.size()));
    sha.Final();
    uint8_t key[kSha1DigestSize];
    for (size_t i = 0; i < kSha1DigestSize; ++i) key[i] = uint8_t(0x11 * i + 1);
    uint8_t masked[kSha1DigestSize];
    sha.MaskDigest(masked, key);
    const uint8_t kAbcBytes[kSha1DigestSize] = {0xa9, 0x99, 0x3e, 0x36, 0x47, 0x06, 0x81, 0x6a, 0xba, 0x3e,
                                                0x25, 0x71, 0x78, 0x50, 0xc2, 0x6c, 0x9c, 0xd0, 0xd8, 0x9d};
    for (size_t i = 0; i < kSha1DigestSize; ++i) EXPECT_EQ(masked[i], kAbcBytes[i] ^ key[i]) << i;
    uint8_t copied[kSha1DigestSize];
    sha.CopyDigest(copied);
    EXPECT_EQ(std::memcmp(copied, kAbcBytes, kSha1DigestSize), 0);
}

TEST(Sha1File, FilesGiveTheDigestsOfTheirContents) {
    for (const PatternFile& expected : kPatternFiles) {
        TempFile file(Pattern(expected.size));
        Sha1 sha;
        EXPECT_TRUE(sha.UpdateFromFile(file.path()));
        EXPECT_EQ(Hex(DigestOf(sha)), expected.sha1sum) << expected.size << " bytes";
    }
}

TEST(Sha1File, FileBytesFollowEarlierUpdates) {
    const std::vector<uint8_t> contents = Pattern(32001);
    TempFile file(contents);
    std::vector<uint8_t> whole(kAbc.begin(), kAbc.end());
    whole.insert(whole.end(), contents.begin(), contents.end());
    Sha1 sha;
    sha.Update(kAbc.data(), uint32_t(kAbc.size()));
    EXPECT_TRUE(sha.UpdateFromFile(file.path()));
    EXPECT_EQ(DigestOf(sha), Sha1Of(whole.data(), whole.size()));
}

TEST(Sha1File, FilesAreReadInWholeChunksAndOneRemainder) {
    ReaderOverride reader(RecordingReader);
    const struct {
        size_t size;
        std::vector<size_t> chunks;
    } cases[] = {
        {0, {}},
        {31999, {31999}},
        {32000, {32000}},
        {32001, {32000, 1}},
        {64000, {32000, 32000}},
        {100000, {32000, 32000, 32000, 4000}},
    };
    for (const auto& c : cases) {
        TempFile file(Pattern(c.size));
        requestedChunks.clear();
        Sha1 sha;
        EXPECT_TRUE(sha.UpdateFromFile(file.path()));
        EXPECT_EQ(requestedChunks, c.chunks) << c.size << " bytes";
    }
}

TEST(Sha1File, UnopenableFileHashesNothing) {
    Sha1 sha;
    EXPECT_FALSE(sha.UpdateFromFile(L"C:\\no such folder\\no such file.exe"));
    EXPECT_EQ(Hex(DigestOf(sha)), kEmptyDigest);

    // A folder cannot be opened as a file either; earlier bytes stay as they were.
    wchar_t directory[MAX_PATH];
    GetTempPathW(MAX_PATH, directory);
    Sha1 after;
    after.Update(kAbc.data(), uint32_t(kAbc.size()));
    EXPECT_FALSE(after.UpdateFromFile(directory));
    EXPECT_EQ(Hex(DigestOf(after)), kAbcDigest);
}

namespace {

// Cuts the file being read down to 40000 bytes right after the first chunk has
// been read, through a second handle, as another program could.
const wchar_t* shrinkingPath = nullptr;
int shrinkReads = 0;

size_t ShrinkingReader(void* buffer, size_t count, FILE* file) {
    const size_t got = ReadFileChunk(buffer, count, file);
    if (++shrinkReads == 1) {
        HANDLE other = CreateFileW(shrinkingPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (other != INVALID_HANDLE_VALUE) {
            SetFilePointer(other, 40000, nullptr, FILE_BEGIN);
            SetEndOfFile(other);
            CloseHandle(other);
        }
    }
    return got;
}

}  // namespace

TEST(Sha1File, FileThatShrinksWhileReadHashesOnlyTheBytesRead) {
    // 100000 bytes ask for chunks of 32000, 32000, 32000 and 4000. After the cut
    // the second read brings 8000 bytes and the rest of the shared buffer still
    // holds the first chunk; none of that may be hashed.
    TempFile file(Pattern(100000));
    shrinkingPath = file.path();
    shrinkReads = 0;
    ReaderOverride reader(ShrinkingReader);
    Sha1 sha;
    EXPECT_TRUE(sha.UpdateFromFile(file.path()));
    ASSERT_GE(shrinkReads, 2) << "the file was not read after the cut";
    EXPECT_EQ(Hex(DigestOf(sha)), kPattern40000Digest);

    // The cut really happened: the file is now 40000 bytes.
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW(file.path(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, 40000u);
}
