#pragma once
#include <windows.h>

// Security attributes that give Everyone full access to what is created with
// them, by an explicit rule that directories pass on to the files and folders
// later created in them, so that what one user adds there the others may
// write as well. Everything allocated for it is released with the object.
class SharedSecurityAttributes {
public:
    SharedSecurityAttributes();
    ~SharedSecurityAttributes();
    SharedSecurityAttributes(const SharedSecurityAttributes&) = delete;
    SharedSecurityAttributes& operator=(const SharedSecurityAttributes&) = delete;

    // Null when the descriptor could not be prepared.
    SECURITY_ATTRIBUTES* get() { return ready_ ? &attributes_ : nullptr; }

private:
    PSID everyone_ = nullptr;  // FreeSid
    PACL acl_ = nullptr;       // LocalFree
    SECURITY_DESCRIPTOR descriptor_ = {};
    SECURITY_ATTRIBUTES attributes_ = {};
    bool ready_ = false;
};
