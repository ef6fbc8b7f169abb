#include <windows.h>

// The static runtime does its own set-up and tear-down around this entry; the
// plug-in has no per-process or per-thread work of its own.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
