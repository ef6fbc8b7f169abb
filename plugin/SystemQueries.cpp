// GetSysVersion and IsSupport64: answers about the running system. Neither
// takes an argument nor asks for privileges.
#include "CallFrame.h"
#include "VersionWord.h"
#include "Wow64.h"

NSIS_PLUGIN_EXPORT(GetSysVersion)
{
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version));  // on failure the zeroed record gives "unknown"
    SetResult(VersionWord(version.dwPlatformId, version.dwMajorVersion, version.dwMinorVersion));
}

NSIS_PLUGIN_EXPORT(IsSupport64)
{
    SetResult(Is64BitWindows() ? L"1" : L"0");
}
