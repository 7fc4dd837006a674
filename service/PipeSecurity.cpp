#include "service/PipeSecurity.h"

#include <aclapi.h>

#include "service/WellKnownSid.h"

namespace quenvar {

OwnedAcl::~OwnedAcl() {
    if (acl_ != nullptr) LocalFree(acl_);
}

OwnedSecurityDescriptor::OwnedSecurityDescriptor()
    : descriptor_(LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH)) {
    if (descriptor_ != nullptr) InitializeSecurityDescriptor(descriptor_, SECURITY_DESCRIPTOR_REVISION);
}

OwnedSecurityDescriptor::~OwnedSecurityDescriptor() {
    if (descriptor_ != nullptr) LocalFree(descriptor_);
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
    return SetEntriesInAclW(2, entries, nullptr, acl->receive()) == ERROR_SUCCESS;
}

}  // namespace quenvar
