// PrivilegeProbe
// Runs the exports' privilege step (EnableDebugPrivilege) as two export calls
// would, and tells in its exit code what it found: 1 when the step counts as
// done for this process, plus 2 when SeDebugPrivilege is enabled in this
// process's token. The tests start it under tokens with and without the
// privilege.
#include <windows.h>

#include "Privileges.h"
#include "UniqueHandle.h"

namespace {
bool DebugPrivilegeEnabled()
{
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    PRIVILEGE_SET set = {1, PRIVILEGE_SET_ALL_NECESSARY, {}};
    if (!LookupPrivilegeValueW(nullptr, L"SeDebugPrivilege", &set.Privilege[0].Luid)) return false;
    BOOL enabled = FALSE;
    return PrivilegeCheck(token.get(), &set, &enabled) && enabled;
}
}  // namespace

int wmain()
{
    EnableDebugPrivilege();
    EnableDebugPrivilege();
    return (DebugPrivilegeTaken() ? 1 : 0) | (DebugPrivilegeEnabled() ? 2 : 0);
}
