// Holder of one of the well-known SIDs the service uses, by table index.
#pragma once

#include <windows.h>

#include "common/UniqueResource.h"

namespace quenvar {

class WellKnownSid {
public:
    static constexpr int kEveryone = 1;
    static constexpr int kAdministrators = 6;

    // An index outside the table, or a failed allocation, leaves no SID.
    explicit WellKnownSid(int index);

    PSID get() const { return sid_.get(); }

private:
    UniqueSid sid_;
};

// S-1-<authority>-<first>[-<second>] with one or two sub-authorities; null when
// it cannot be allocated. For the SIDs outside the table: network logons
// (S-1-5-2), anonymous logons (S-1-5-7) and LocalSystem (S-1-5-18).
UniqueSid MakeSid(BYTE authority, BYTE count, DWORD first, DWORD second = 0);

}  // namespace quenvar
