// The pipe's security: Everyone may read and write, Administrators have full control.
#pragma once

#include <windows.h>

namespace quenvar {

// An ACL allocated by SetEntriesInAclW, freed with LocalFree.
class OwnedAcl {
public:
    OwnedAcl() = default;
    ~OwnedAcl();
    OwnedAcl(const OwnedAcl&) = delete;
    OwnedAcl& operator=(const OwnedAcl&) = delete;

    PACL get() const { return acl_; }
    PACL* receive() { return &acl_; }

private:
    PACL acl_ = nullptr;
};

// An absolute security descriptor of revision 1.
class OwnedSecurityDescriptor {
public:
    OwnedSecurityDescriptor();
    ~OwnedSecurityDescriptor();
    OwnedSecurityDescriptor(const OwnedSecurityDescriptor&) = delete;
    OwnedSecurityDescriptor& operator=(const OwnedSecurityDescriptor&) = delete;

    PSECURITY_DESCRIPTOR get() const { return descriptor_; }

private:
    PSECURITY_DESCRIPTOR descriptor_;
};

// Builds the pipe's DACL; false when SetEntriesInAclW fails.
bool BuildPipeAcl(OwnedAcl* acl);

}  // namespace quenvar
