// Security attributes that make a pipe as the service makes it, owned by
// LocalSystem, for tests that stand in for the service. Wine lets any program
// name that owner; Windows lets only LocalSystem.
#pragma once

#include <windows.h>

namespace quenvar::testing {

class ServiceOwner {
public:
    ServiceOwner() {
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &owner_);
        InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&descriptor_, TRUE, nullptr, FALSE);
        SetSecurityDescriptorOwner(&descriptor_, owner_, FALSE);
    }
    ~ServiceOwner() {
        if (owner_ != nullptr) FreeSid(owner_);
    }
    ServiceOwner(const ServiceOwner&) = delete;
    ServiceOwner& operator=(const ServiceOwner&) = delete;
    SECURITY_ATTRIBUTES* attributes() { return &attributes_; }

private:
    PSID owner_ = nullptr;
    SECURITY_DESCRIPTOR descriptor_ = {};
    SECURITY_ATTRIBUTES attributes_ = {sizeof(attributes_), &descriptor_, FALSE};
};

}  // namespace quenvar::testing
