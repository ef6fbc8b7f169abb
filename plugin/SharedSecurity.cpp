#include "SharedSecurity.h"

#include <aclapi.h>

SharedSecurityAttributes::SharedSecurityAttributes()
{
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone_)) {
        everyone_ = nullptr;
        return;
    }
    EXPLICIT_ACCESS_W rule = {};
    rule.grfAccessPermissions = FILE_ALL_ACCESS;
    rule.grfAccessMode = GRANT_ACCESS;
    rule.grfInheritance = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    rule.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
    rule.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    rule.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    rule.Trustee.ptstrName = static_cast<LPWSTR>(everyone_);
    if (SetEntriesInAclW(1, &rule, nullptr, &acl_) != ERROR_SUCCESS) {
        acl_ = nullptr;
        return;
    }
    if (!InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl_, FALSE))
        return;
    attributes_.nLength = sizeof(attributes_);
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = FALSE;
    ready_ = true;
}

SharedSecurityAttributes::~SharedSecurityAttributes()
{
    if (acl_) LocalFree(acl_);
    if (everyone_) FreeSid(everyone_);
}
