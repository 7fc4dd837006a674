#include "common/ListDigest.h"

#include <cstring>

namespace quenvar {
namespace {

// Update takes 32-bit counts.
void UpdateInParts(Sha1& sha, const uint8_t* bytes, size_t count) {
    while (count > 0) {
        const uint32_t part = count > 0x80000000u ? 0x80000000u : uint32_t(count);
        sha.Update(bytes, part);
        bytes += part;
        count -= part;
    }
}

}  // namespace

Sha1Digest ListDigest(const uint8_t* identity, size_t identityLength, const uint8_t* list,
                      size_t listLength) {
    Sha1 sha;
    UpdateInParts(sha, identity, identityLength);
    UpdateInParts(sha, list, listLength);
    sha.Final();
    Sha1Digest digest;
    sha.CopyDigest(digest.data());
    return digest;
}

bool ListDigestMatches(const uint8_t* stored, size_t storedLength, const Sha1Digest& expected) {
    return stored != nullptr && storedLength == expected.size() &&
           std::memcmp(stored, expected.data(), expected.size()) == 0;
}

}  // namespace quenvar
