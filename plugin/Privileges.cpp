#include "Privileges.h"

#include "UniqueHandle.h"

bool SetTokenPrivilege(HANDLE token, const wchar_t* privilege, bool enable)
{
    LUID luid;
    if (!LookupPrivilegeValueW(nullptr, privilege, &luid)) return false;

    // First adjustment with no attributes only reads the privilege's current
    // state back; it fails with ERROR_NOT_ALL_ASSIGNED when the token lacks it.
    TOKEN_PRIVILEGES query = {};
    query.PrivilegeCount = 1;
    query.Privileges[0].Luid = luid;
    query.Privileges[0].Attributes = 0;
    TOKEN_PRIVILEGES previous = {};
    DWORD previousLength = sizeof(TOKEN_PRIVILEGES);
    SetLastError(ERROR_SUCCESS);
    AdjustTokenPrivileges(token, FALSE, &query, sizeof(TOKEN_PRIVILEGES), &previous, &previousLength);
    if (GetLastError() != ERROR_SUCCESS) return false;

    previous.PrivilegeCount = 1;
    previous.Privileges[0].Luid = luid;
    if (enable)
        previous.Privileges[0].Attributes |= SE_PRIVILEGE_ENABLED;
    else
        previous.Privileges[0].Attributes &= ~static_cast<DWORD>(SE_PRIVILEGE_ENABLED);
    SetLastError(ERROR_SUCCESS);
    AdjustTokenPrivileges(token, FALSE, &previous, previousLength, nullptr, nullptr);
    return GetLastError() == ERROR_SUCCESS;
}

bool RequestDebugPrivilege()
{
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) return false;
    return SetTokenPrivilege(token.get(), L"SeDebugPrivilege", true);
}

namespace {
UntilSucceeded g_debugPrivilege;
}

void EnableDebugPrivilege()
{
    g_debugPrivilege.Run(RequestDebugPrivilege);
}

bool DebugPrivilegeTaken()
{
    return g_debugPrivilege.Succeeded();
}
