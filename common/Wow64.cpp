#include "Wow64.h"

#include <windows.h>

bool IsWow64()
{
    using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
    const auto isWow64Process = reinterpret_cast<IsWow64ProcessFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "IsWow64Process")));
    if (!isWow64Process) return false;
    BOOL wow64 = FALSE;
    isWow64Process(GetCurrentProcess(), &wow64);  // a failed call leaves the flag FALSE
    return wow64 != FALSE;
}

bool Is64BitWindows()
{
    return sizeof(void*) == 8 || IsWow64();
}
