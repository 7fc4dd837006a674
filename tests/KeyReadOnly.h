// A registry key whose values nobody may change for one scope: how the tests
// make a removal or a scheduled deletion fail.
#pragma once

#include <windows.h>
#include <aclapi.h>

#include <vector>

namespace quenvar::testing {

// For one scope, nobody may change the values of the HKEY_LOCAL_MACHINE key
// `path` (everyone may only read it and its security). For the Session Manager's key
// this is the condition under which Windows (and Wine) refuse to schedule a
// deletion at restart.
class KeyReadOnly {
public:
    explicit KeyReadOnly(const wchar_t* path) {
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, READ_CONTROL | WRITE_DAC, &key_) != ERROR_SUCCESS) return;
        DWORD size = 0;
        RegGetKeySecurity(key_, DACL_SECURITY_INFORMATION, nullptr, &size);
        saved_.resize(size);
        if (size == 0 || RegGetKeySecurity(key_, DACL_SECURITY_INFORMATION, saved_.data(), &size) != ERROR_SUCCESS)
            return;
        SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
        PSID everyone = nullptr;
        AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
        EXPLICIT_ACCESSW access = {};
        access.grfAccessPermissions = KEY_READ | WRITE_DAC;
        access.grfAccessMode = SET_ACCESS;
        access.grfInheritance = NO_INHERITANCE;
        access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
        access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
        access.Trustee.ptstrName = static_cast<LPWSTR>(everyone);
        PACL acl = nullptr;
        SetEntriesInAclW(1, &access, nullptr, &acl);
        SECURITY_DESCRIPTOR descriptor;
        InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
        active_ = RegSetKeySecurity(key_, DACL_SECURITY_INFORMATION, &descriptor) == ERROR_SUCCESS;
        LocalFree(acl);
        FreeSid(everyone);
    }
    ~KeyReadOnly() {
        if (active_) RegSetKeySecurity(key_, DACL_SECURITY_INFORMATION, saved_.data());
        if (key_ != nullptr) RegCloseKey(key_);
    }
    KeyReadOnly(const KeyReadOnly&) = delete;
    KeyReadOnly& operator=(const KeyReadOnly&) = delete;
    bool active() const { return active_; }

private:
    HKEY key_ = nullptr;
    std::vector<BYTE> saved_;
    bool active_ = false;
};

}  // namespace quenvar::testing
