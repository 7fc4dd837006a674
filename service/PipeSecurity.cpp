#include "service/PipeSecurity.h"

#include <aclapi.h>

#include "service/WellKnownSid.h"

namespace quenvar {

OwnedSecurityDescriptor::OwnedSecurityDescriptor() : memory_(LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH)) {
    if (memory_) InitializeSecurityDescriptor(memory_.get(), SECURITY_DESCRIPTOR_REVISION);
}

bool BuildPipeAcl(OwnedAcl* acl) {
    const UniqueSid network = MakeSid(5, 1, SECURITY_NETWORK_RID);            // S-1-5-2
    const UniqueSid anonymous = MakeSid(5, 1, SECURITY_ANONYMOUS_LOGON_RID);  // S-1-5-7
    WellKnownSid everyone(WellKnownSid::kEveryone);
    WellKnownSid administrators(WellKnownSid::kAdministrators);
    if (!network || !anonymous || !everyone.get() || !administrators.get()) return false;
    const struct {
        ACCESS_MODE mode;
        DWORD rights;
        PSID sid;
        TRUSTEE_TYPE type;
    } grants[] = {
        // Deny first: a network logon is also in Everyone, and where the
        // system is set so, an anonymous one is too.
        {DENY_ACCESS, FILE_ALL_ACCESS, network.get(), TRUSTEE_IS_WELL_KNOWN_GROUP},
        {DENY_ACCESS, FILE_ALL_ACCESS, anonymous.get(), TRUSTEE_IS_WELL_KNOWN_GROUP},
        {SET_ACCESS, kEveryonePipeAccess, everyone.get(), TRUSTEE_IS_WELL_KNOWN_GROUP},
        {SET_ACCESS, FILE_ALL_ACCESS, administrators.get(), TRUSTEE_IS_ALIAS},
    };
    constexpr ULONG kEntries = sizeof(grants) / sizeof(grants[0]);
    EXPLICIT_ACCESSW entries[kEntries] = {};
    for (ULONG i = 0; i < kEntries; ++i) {
        entries[i].grfAccessPermissions = grants[i].rights;
        entries[i].grfAccessMode = grants[i].mode;
        entries[i].grfInheritance = NO_INHERITANCE;
        entries[i].Trustee.pMultipleTrustee = nullptr;
        entries[i].Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
        entries[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
        entries[i].Trustee.TrusteeType = grants[i].type;
        entries[i].Trustee.ptstrName = static_cast<LPWSTR>(grants[i].sid);
    }
    PACL built = nullptr;
    if (SetEntriesInAclW(kEntries, entries, nullptr, &built) != ERROR_SUCCESS) return false;
    acl->reset(built);
    return true;
}

void PipeSecurity::Build() {
    // The owner is set, not left to the creator's token: LocalSystem as owner is
    // what tells the service's pipe from one that any other program made.
    owner_ = MakeSid(5, 1, SECURITY_LOCAL_SYSTEM_RID);
    ready_ = descriptor_.get() != nullptr && owner_ && BuildPipeAcl(&acl_) &&
             SetSecurityDescriptorOwner(descriptor_.get(), owner_.get(), FALSE) &&
             SetSecurityDescriptorDacl(descriptor_.get(), TRUE, acl_.get(), FALSE);
    attributes_ = {sizeof(attributes_), descriptor_.get(), FALSE};
}

}  // namespace quenvar
