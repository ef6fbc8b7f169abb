// The entry point of a test build of Plugin.dll whose load fails while the
// environment variable QUILLON_TEST_PLUGIN_LOAD_FAILS is set: NSIS then
// cannot call the plug-in, as when the DLL cannot be extracted or loaded on a
// user's machine. Without the variable the build is the plug-in itself.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    return GetEnvironmentVariableW(L"QUILLON_TEST_PLUGIN_LOAD_FAILS", nullptr, 0) == 0;
}
