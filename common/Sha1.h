// The SHA-1 digest object (FIPS 180-1), the same code in both programs.
// Not reentrant: the block transform and UpdateFromFile work in process-wide
// buffers, so each program computes digests on one thread only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace quenvar {

constexpr size_t kSha1DigestSize = 20;
constexpr size_t kSha1BlockSize = 64;
constexpr size_t kSha1FileChunkSize = 32000;

using Sha1Digest = std::array<uint8_t, kSha1DigestSize>;

// Reads up to count bytes of an open file into buffer and returns how many
// arrived, like fread. UpdateFromFile reads through sha1FileReader, which is
// ReadFileChunk unless a test stands in for a file that changes while read.
using Sha1FileReader = size_t (*)(void* buffer, size_t count, FILE* file);
size_t ReadFileChunk(void* buffer, size_t count, FILE* file);
extern Sha1FileReader sha1FileReader;

class Sha1 {
public:
    Sha1();
    // Puts the chaining state back to the initial values and clears the length.
    virtual ~Sha1();
    Sha1(const Sha1&) = delete;
    Sha1& operator=(const Sha1&) = delete;

    void Reset();
    void Update(const void* data, uint32_t count);
    // Hashes the whole file in 32000-byte chunks; false (and nothing hashed)
    // when the file cannot be opened.
    bool UpdateFromFile(const wchar_t* path);
    // Pads, stores the digest, then wipes the message state and the shared work
    // buffer. Reset before reusing the object.
    void Final();
    void CopyDigest(uint8_t out[kSha1DigestSize]) const;
    // out[i] = key[i] ^ digest[i] for all 20 bytes.
    void MaskDigest(uint8_t out[kSha1DigestSize], const uint8_t key[kSha1DigestSize]) const;

private:
    void AddLength(uint32_t count);

    uint32_t state[5];
    uint32_t lengthLow;   // message length in bits, low word
    uint32_t lengthHigh;  // message length in bits, high word
    uint8_t buffer[kSha1BlockSize];
    uint8_t digest[kSha1DigestSize];
};

// SHA-1 of a byte range in one call.
Sha1Digest Sha1Of(const void* data, size_t count);

}  // namespace quenvar
