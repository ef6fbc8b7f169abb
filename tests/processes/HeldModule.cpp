#include <windows.h>

// Gives the module an export so that every copy is a complete, ordinary DLL.
extern "C" __declspec(dllexport) int HeldModuleMarker()
{
    return 1;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
