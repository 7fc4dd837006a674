#include "service/WellKnownSid.h"

#include <iterator>

namespace quenvar {
namespace {

struct SidDefinition {
    BYTE authority;
    BYTE count;
    DWORD subAuthorities[2];
};

constexpr SidDefinition kSids[] = {
    {0, 1, {0, 0}},                            // S-1-0-0 nobody
    {1, 1, {0, 0}},                            // S-1-1-0 Everyone
    {3, 1, {0, 0}},                            // S-1-3-0 creator owner
    {3, 1, {1, 0}},                            // S-1-3-1 creator group
    {5, 1, {4, 0}},                            // S-1-5-4 interactive users
    {5, 2, {32, 545}},                         // S-1-5-32-545 Users
    {5, 2, {32, 544}},                         // S-1-5-32-544 Administrators
    {5, 2, {32, 546}},                         // S-1-5-32-546 Guests
    {5, 2, {32, 547}},                         // S-1-5-32-547 Power Users
};

}  // namespace

UniqueSid MakeSid(BYTE authority, BYTE count, DWORD first, DWORD second) {
    SID_IDENTIFIER_AUTHORITY identifier = {{0, 0, 0, 0, 0, authority}};
    UniqueSid sid;
    if (!AllocateAndInitializeSid(&identifier, count, first, second, 0, 0, 0, 0, 0, 0, sid.receive()))
        sid.release();  // nothing was allocated
    return sid;
}

WellKnownSid::WellKnownSid(int index) {
    if (index < 0 || index >= static_cast<int>(std::size(kSids))) return;
    const SidDefinition& def = kSids[index];
    sid_ = MakeSid(def.authority, def.count, def.subAuthorities[0], def.subAuthorities[1]);
}

}  // namespace quenvar
