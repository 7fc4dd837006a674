// The pipe's security: Everyone may read and write, Administrators have full control.
#pragma once

#include <windows.h>

#include "common/UniqueResource.h"

namespace quenvar {

// An ACL allocated by SetEntriesInAclW, freed with LocalFree.
class OwnedAcl {
public:
    PACL get() const { return static_cast<PACL>(memory_.get()); }
    // Takes over an ACL that SetEntriesInAclW allocated.
    void reset(PACL acl) { memory_.reset(acl); }

private:
    UniqueLocalMemory memory_;
};

// An absolute security descriptor of revision 1.
class OwnedSecurityDescriptor {
public:
    OwnedSecurityDescriptor();

    PSECURITY_DESCRIPTOR get() const { return memory_.get(); }

private:
    UniqueLocalMemory memory_;
};

// Builds the pipe's DACL; false when SetEntriesInAclW fails.
bool BuildPipeAcl(OwnedAcl* acl);

}  // namespace quenvar
