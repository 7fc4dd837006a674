#include "service/PipeSecurity.h"

#include <aclapi.h>

#include "service/WellKnownSid.h"

namespace quenvar {

OwnedSecurityDescriptor::OwnedSecurityDescriptor() : memory_(LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH)) {
    if (memory_) InitializeSecurityDescriptor(memory_.get(), SECURITY_DESCRIPTOR_REVISION);
}

bool BuildPipeAcl(OwnedAcl* acl) {
    WellKnownSid everyone(WellKnownSid::kEveryone);
    WellKnownSid administrators(WellKnownSid::kAdministrators);
    EXPLICIT_ACCESSW entries[2] = {};
    const struct {
        DWORD rights;
        PSID sid;
    } grants[2] = {{GENERIC_READ | GENERIC_WRITE, everyone.get()},
                   {GENERIC_ALL, administrators.get()}};
    for (int i = 0; i < 2; ++i) {
        entries[i].grfAccessPermissions = grants[i].rights;
        entries[i].grfAccessMode = SET_ACCESS;
        entries[i].grfInheritance = NO_INHERITANCE;
        entries[i].Trustee.pMultipleTrustee = nullptr;
        entries[i].Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
        entries[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
        entries[i].Trustee.TrusteeType = i == 0 ? TRUSTEE_IS_WELL_KNOWN_GROUP : TRUSTEE_IS_ALIAS;
        entries[i].Trustee.ptstrName = static_cast<LPWSTR>(grants[i].sid);
    }
    PACL built = nullptr;
    if (SetEntriesInAclW(2, entries, nullptr, &built) != ERROR_SUCCESS) return false;
    acl->reset(built);
    return true;
}

}  // namespace quenvar
