#pragma once
#include <windows.h>

// Turns one privilege of token on or off, keeping the privilege's other
// attribute bits. False when the privilege is unknown or the token lacks it.
bool SetTokenPrivilege(HANDLE token, const wchar_t* privilege, bool enable);

// Asks for SeDebugPrivilege in this process's token. Failure is silent: the
// caller goes on without the privilege.
void EnableDebugPrivilege();
