#include "common/Sha1.h"

#include <cstring>

namespace quenvar {
namespace {

constexpr uint32_t kInitialState[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};

// Process-wide work areas, one per program. The transform copies each block into
// blockWork as big-endian words and expands the message schedule in place there.
uint32_t blockWork[kSha1BlockSize / 4];
alignas(64) uint8_t fileReadBuffer[kSha1FileChunkSize];

inline uint32_t Rol(uint32_t x, unsigned n) { return (x << n) | (x >> (32 - n)); }

// The compiler turns this pattern into one load and a byte swap.
inline uint32_t LoadBigEndian(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

inline void StoreBigEndian(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// Round functions. The majority function is written with '+' because its two
// terms never share a set bit; that lets the additions be reordered freely.
#define SHA1_CH(b, c, d) ((d) ^ ((b) & ((c) ^ (d))))
#define SHA1_PARITY(b, c, d) ((b) ^ (c) ^ (d))
#define SHA1_MAJ_LOW(b, c, d) ((b) & (c))
#define SHA1_MAJ_HIGH(b, c, d) ((d) & ((b) ^ (c)))

// The schedule word of round i: rounds 0-15 take the block, later rounds expand
// the 16-word window in place.
#define SHA1_LOAD(i) (w[i] = LoadBigEndian(block + 4 * (i)))
#define SHA1_EXPAND(i)                                                                        \
    (w[(i)&15] = Rol(w[((i) + 13) & 15] ^ w[((i) + 8) & 15] ^ w[((i) + 2) & 15] ^ w[(i)&15], 1))

// The sum into e is ordered so that rol(a, 5), which depends on the previous
// round, comes last and the rest can be computed ahead.
#define SHA1_R0(a, b, c, d, e, i)                    \
    e += SHA1_LOAD(i) + 0x5A827999u;                 \
    e += SHA1_CH(b, c, d);                           \
    e += Rol(a, 5);                                  \
    b = Rol(b, 30);
#define SHA1_R1(a, b, c, d, e, i)                    \
    e += SHA1_EXPAND(i) + 0x5A827999u;               \
    e += SHA1_CH(b, c, d);                           \
    e += Rol(a, 5);                                  \
    b = Rol(b, 30);
#define SHA1_R2(a, b, c, d, e, i)                    \
    e += SHA1_EXPAND(i) + 0x6ED9EBA1u;               \
    e += SHA1_PARITY(b, c, d);                       \
    e += Rol(a, 5);                                  \
    b = Rol(b, 30);
#define SHA1_R3(a, b, c, d, e, i)                    \
    e += SHA1_EXPAND(i) + 0x8F1BBCDCu;               \
    e += SHA1_MAJ_LOW(b, c, d);                      \
    e += SHA1_MAJ_HIGH(b, c, d);                     \
    e += Rol(a, 5);                                  \
    b = Rol(b, 30);
#define SHA1_R4(a, b, c, d, e, i)                    \
    e += SHA1_EXPAND(i) + 0xCA62C1D6u;               \
    e += SHA1_PARITY(b, c, d);                       \
    e += Rol(a, 5);                                  \
    b = Rol(b, 30);

// Runs the compression function over blockCount consecutive 64-byte blocks.
void TransformBlocks(uint32_t state[5], const uint8_t* block, size_t blockCount) {
    uint32_t* const w = blockWork;
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    for (; blockCount != 0; --blockCount, block += kSha1BlockSize) {
        const uint32_t a0 = a, b0 = b, c0 = c, d0 = d, e0 = e;

        SHA1_R0(a, b, c, d, e, 0) SHA1_R0(e, a, b, c, d, 1) SHA1_R0(d, e, a, b, c, 2)
        SHA1_R0(c, d, e, a, b, 3) SHA1_R0(b, c, d, e, a, 4)
        SHA1_R0(a, b, c, d, e, 5) SHA1_R0(e, a, b, c, d, 6) SHA1_R0(d, e, a, b, c, 7)
        SHA1_R0(c, d, e, a, b, 8) SHA1_R0(b, c, d, e, a, 9)
        SHA1_R0(a, b, c, d, e, 10) SHA1_R0(e, a, b, c, d, 11) SHA1_R0(d, e, a, b, c, 12)
        SHA1_R0(c, d, e, a, b, 13) SHA1_R0(b, c, d, e, a, 14)
        SHA1_R0(a, b, c, d, e, 15) SHA1_R1(e, a, b, c, d, 16) SHA1_R1(d, e, a, b, c, 17)
        SHA1_R1(c, d, e, a, b, 18) SHA1_R1(b, c, d, e, a, 19)

        SHA1_R2(a, b, c, d, e, 20) SHA1_R2(e, a, b, c, d, 21) SHA1_R2(d, e, a, b, c, 22)
        SHA1_R2(c, d, e, a, b, 23) SHA1_R2(b, c, d, e, a, 24)
        SHA1_R2(a, b, c, d, e, 25) SHA1_R2(e, a, b, c, d, 26) SHA1_R2(d, e, a, b, c, 27)
        SHA1_R2(c, d, e, a, b, 28) SHA1_R2(b, c, d, e, a, 29)
        SHA1_R2(a, b, c, d, e, 30) SHA1_R2(e, a, b, c, d, 31) SHA1_R2(d, e, a, b, c, 32)
        SHA1_R2(c, d, e, a, b, 33) SHA1_R2(b, c, d, e, a, 34)
        SHA1_R2(a, b, c, d, e, 35) SHA1_R2(e, a, b, c, d, 36) SHA1_R2(d, e, a, b, c, 37)
        SHA1_R2(c, d, e, a, b, 38) SHA1_R2(b, c, d, e, a, 39)

        SHA1_R3(a, b, c, d, e, 40) SHA1_R3(e, a, b, c, d, 41) SHA1_R3(d, e, a, b, c, 42)
        SHA1_R3(c, d, e, a, b, 43) SHA1_R3(b, c, d, e, a, 44)
        SHA1_R3(a, b, c, d, e, 45) SHA1_R3(e, a, b, c, d, 46) SHA1_R3(d, e, a, b, c, 47)
        SHA1_R3(c, d, e, a, b, 48) SHA1_R3(b, c, d, e, a, 49)
        SHA1_R3(a, b, c, d, e, 50) SHA1_R3(e, a, b, c, d, 51) SHA1_R3(d, e, a, b, c, 52)
        SHA1_R3(c, d, e, a, b, 53) SHA1_R3(b, c, d, e, a, 54)
        SHA1_R3(a, b, c, d, e, 55) SHA1_R3(e, a, b, c, d, 56) SHA1_R3(d, e, a, b, c, 57)
        SHA1_R3(c, d, e, a, b, 58) SHA1_R3(b, c, d, e, a, 59)

        SHA1_R4(a, b, c, d, e, 60) SHA1_R4(e, a, b, c, d, 61) SHA1_R4(d, e, a, b, c, 62)
        SHA1_R4(c, d, e, a, b, 63) SHA1_R4(b, c, d, e, a, 64)
        SHA1_R4(a, b, c, d, e, 65) SHA1_R4(e, a, b, c, d, 66) SHA1_R4(d, e, a, b, c, 67)
        SHA1_R4(c, d, e, a, b, 68) SHA1_R4(b, c, d, e, a, 69)
        SHA1_R4(a, b, c, d, e, 70) SHA1_R4(e, a, b, c, d, 71) SHA1_R4(d, e, a, b, c, 72)
        SHA1_R4(c, d, e, a, b, 73) SHA1_R4(b, c, d, e, a, 74)
        SHA1_R4(a, b, c, d, e, 75) SHA1_R4(e, a, b, c, d, 76) SHA1_R4(d, e, a, b, c, 77)
        SHA1_R4(c, d, e, a, b, 78) SHA1_R4(b, c, d, e, a, 79)

        a += a0;
        b += b0;
        c += c0;
        d += d0;
        e += e0;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
    state[4] = e;
}

#undef SHA1_CH
#undef SHA1_PARITY
#undef SHA1_MAJ_LOW
#undef SHA1_MAJ_HIGH
#undef SHA1_LOAD
#undef SHA1_EXPAND
#undef SHA1_R0
#undef SHA1_R1
#undef SHA1_R2
#undef SHA1_R3
#undef SHA1_R4

}  // namespace

size_t ReadFileChunk(void* buffer, size_t count, FILE* file) { return fread(buffer, 1, count, file); }

Sha1FileReader sha1FileReader = ReadFileChunk;

Sha1::Sha1() { Reset(); }

Sha1::~Sha1() {
    std::memcpy(state, kInitialState, sizeof state);
    lengthLow = 0;
    lengthHigh = 0;
}

void Sha1::Reset() {
    std::memcpy(state, kInitialState, sizeof state);
    lengthLow = 0;
    lengthHigh = 0;
    std::memset(buffer, 0, sizeof buffer);
    std::memset(digest, 0, sizeof digest);
}

void Sha1::AddLength(uint32_t count) {
    const uint32_t bitsLow = count << 3;
    lengthLow += bitsLow;
    lengthHigh += (count >> 29) + (lengthLow < bitsLow ? 1u : 0u);
}

void Sha1::Update(const void* data, uint32_t count) {
    if (count == 0) return;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    const uint32_t used = (lengthLow >> 3) & (kSha1BlockSize - 1);
    AddLength(count);

    if (used != 0) {
        const uint32_t room = kSha1BlockSize - used;
        if (count < room) {
            std::memcpy(buffer + used, bytes, count);
            return;
        }
        std::memcpy(buffer + used, bytes, room);
        TransformBlocks(state, buffer, 1);
        bytes += room;
        count -= room;
    }
    // Whole blocks go to the transform straight from the caller's bytes.
    const uint32_t wholeBlocks = count / kSha1BlockSize;
    TransformBlocks(state, bytes, wholeBlocks);
    bytes += size_t(wholeBlocks) * kSha1BlockSize;
    count -= wholeBlocks * kSha1BlockSize;
    if (count != 0) std::memcpy(buffer, bytes, count);
}

bool Sha1::UpdateFromFile(const wchar_t* path) {
    FILE* file = _wfopen(path, L"rb");
    if (file == nullptr) return false;
    // Chunks go straight from the file into fileReadBuffer, not through a
    // second copy in the stream's own buffer.
    std::setvbuf(file, nullptr, _IONBF, 0);

    // fgetpos gives the 64-bit position, so files beyond 2 GB keep their size.
    fpos_t end = 0;
    uint64_t size = 0;
    if (std::fseek(file, 0, SEEK_END) == 0 && std::fgetpos(file, &end) == 0 && end > 0) {
        size = uint64_t(end);
    }
    std::fseek(file, 0, SEEK_SET);

    const uint64_t fullChunks = size / kSha1FileChunkSize;
    const size_t lastChunk = size_t(size % kSha1FileChunkSize);
    for (uint64_t chunk = 0; chunk <= fullChunks; ++chunk) {
        const size_t wanted = chunk < fullChunks ? kSha1FileChunkSize : lastChunk;
        if (wanted == 0) break;
        size_t got = sha1FileReader(fileReadBuffer, wanted, file);
        if (got > wanted) got = wanted;
        // A file that shrank while being read returns short; the rest of the
        // shared buffer still holds the previous chunk, so only what arrived is
        // hashed, and nothing more is read.
        Update(fileReadBuffer, uint32_t(got));
        if (got < wanted) break;
    }
    std::fclose(file);
    return true;
}

void Sha1::Final() {
    uint8_t lengthBytes[8];
    StoreBigEndian(lengthBytes, lengthHigh);
    StoreBigEndian(lengthBytes + 4, lengthLow);

    static const uint8_t kPadding[kSha1BlockSize] = {0x80};
    const uint32_t used = (lengthLow >> 3) & (kSha1BlockSize - 1);
    const uint32_t padding = used < 56 ? 56 - used : 120 - used;
    Update(kPadding, padding);
    Update(lengthBytes, sizeof lengthBytes);

    for (int i = 0; i < 5; ++i) StoreBigEndian(digest + 4 * i, state[i]);

    // Leave no message data behind, neither here nor in the shared work buffer.
    std::memset(buffer, 0, sizeof buffer);
    std::memset(state, 0, sizeof state);
    lengthLow = 0;
    lengthHigh = 0;
    uint32_t scratch[5] = {0, 0, 0, 0, 0};
    TransformBlocks(scratch, buffer, 1);
}

void Sha1::CopyDigest(uint8_t out[kSha1DigestSize]) const { std::memcpy(out, digest, kSha1DigestSize); }

void Sha1::MaskDigest(uint8_t out[kSha1DigestSize], const uint8_t key[kSha1DigestSize]) const {
    for (size_t i = 0; i < kSha1DigestSize; ++i) out[i] = uint8_t(key[i] ^ digest[i]);
}

Sha1Digest Sha1Of(const void* data, size_t count) {
    Sha1 sha;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    // Update takes 32-bit counts.
    while (count > 0) {
        const uint32_t part = count > 0x80000000u ? 0x80000000u : uint32_t(count);
        sha.Update(bytes, part);
        bytes += part;
        count -= part;
    }
    sha.Final();
    Sha1Digest digest;
    sha.CopyDigest(digest.data());
    return digest;
}

}  // namespace quenvar
