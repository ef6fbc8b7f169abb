// DllHolder <ready-file> <lifetime-ms> <dll>...
// Loads each DLL in order, then creates ready-file and keeps the DLLs loaded
// until a file named ready-file + ".stop" appears or the lifetime has passed,
// so that a test that dies never leaves it running for long.
// Exit code: 0 after a stop or the lifetime, 2 on bad arguments, 3 when a DLL
// would not load (ready-file is not created then).
#include <windows.h>

#include "UniqueHandle.h"

#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) return 2;
    const std::wstring readyFile = argv[1];
    const DWORD lifetime = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10));
    for (int i = 3; i < argc; ++i)
        if (!LoadLibraryW(argv[i])) return 3;

    const UniqueHandle ready(
        CreateFileW(readyFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!ready) return 2;

    const std::wstring stopFile = readyFile + L".stop";
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < lifetime) {
        if (GetFileAttributesW(stopFile.c_str()) != INVALID_FILE_ATTRIBUTES) break;
        Sleep(100);
    }
    return 0;
}
