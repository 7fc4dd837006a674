// The digest that binds the service's known keyboard filter driver list to this
// machine: plain SHA-1 over the machine identity bytes followed by the list bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/Sha1.h"

namespace quenvar {

Sha1Digest ListDigest(const uint8_t* identity, size_t identityLength, const uint8_t* list,
                      size_t listLength);

// A stored digest matches only when it is exactly 20 bytes long and every byte
// equals the expected digest.
bool ListDigestMatches(const uint8_t* stored, size_t storedLength, const Sha1Digest& expected);

}  // namespace quenvar
