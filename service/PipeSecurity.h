// The pipe's security. Its owner is LocalSystem, which no other program can
// give an object it makes, so the user-interface program can tell the real
// service. Everyone may read and write data but not create instances of the
// name (FILE_CREATE_PIPE_INSTANCE); network and anonymous logons are denied;
// Administrators have full control.
#pragma once

#include <windows.h>

#include "common/UniqueResource.h"

namespace quenvar {

// What Everyone may do: read and write data, never create an instance.
constexpr DWORD kEveryonePipeAccess = (FILE_GENERIC_READ | FILE_GENERIC_WRITE) & ~FILE_CREATE_PIPE_INSTANCE;

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

// Builds the pipe's DACL, the denials of network and anonymous logons first;
// false when SetEntriesInAclW fails.
bool BuildPipeAcl(OwnedAcl* acl);

// The owner and the DACL in a descriptor, and the attributes that CreateNamedPipeW takes
// (handles not inheritable).
class PipeSecurity {
public:
    PipeSecurity() { Build(); }
    PipeSecurity(const PipeSecurity&) = delete;
    PipeSecurity& operator=(const PipeSecurity&) = delete;

    // Builds everything again; ready() tells whether it worked.
    void Build();
    bool ready() const { return ready_; }
    SECURITY_ATTRIBUTES* attributes() { return &attributes_; }

private:
    OwnedAcl acl_;
    UniqueSid owner_;
    OwnedSecurityDescriptor descriptor_;
    SECURITY_ATTRIBUTES attributes_ = {};
    bool ready_ = false;
};

}  // namespace quenvar
