// What one process cache remembers of one program file.
#pragma once

#include <cstdint>

#include "client/RecordSignature.h"

namespace quenvar {

// Rights bits, one per kind of access: 1 << BreachKind. A bit in neither mask
// means the user is asked.
struct ProgramRights {
    uint32_t allowedMask = 0;
    uint32_t deniedMask = 0;
    // The 42-byte registry record as last read or written; its fingerprint is
    // the one taken when the rights were loaded.
    RightsRecord registryImage = {};
};

}  // namespace quenvar
