#include "LoadedLibrary.h"

#include "Wow64.h"

namespace {
// The folder of the system DLLs of this process's own kind. A 32-bit process
// on 64-bit Windows has them in SysWOW64 and reaches them through the
// System32 path only while file-system redirection is on for its thread; an
// installer script may turn it off around a call (x64.nsh's
// DisableX64FSRedirection), and System32 then names the 64-bit DLLs, which
// cannot load here. SysWOW64 is never redirected, so its path holds either
// way. GetSystemWow64DirectoryW is looked up: the oldest systems lack it.
UINT OwnSystemDirectory(wchar_t* path, UINT capacity)
{
    if (IsWow64()) {
        using GetDirectoryFunction = UINT(WINAPI*)(wchar_t* buffer, UINT size);
        const auto getWow64Directory =
            FindExport<GetDirectoryFunction>(GetModuleHandleW(L"kernel32"), "GetSystemWow64DirectoryW");
        const UINT length = getWow64Directory ? getWow64Directory(path, capacity) : 0;
        if (length != 0 && length < capacity) return length;
    }
    const UINT length = GetSystemDirectoryW(path, capacity);
    return length < capacity ? length : 0;
}
}  // namespace

std::wstring SystemLibraryPath(const wchar_t* fileName)
{
    wchar_t directory[MAX_PATH];
    const UINT length = OwnSystemDirectory(directory, MAX_PATH);
    if (length == 0) return std::wstring();
    // The directory, a separator, the name and the terminator must all fit.
    const std::wstring path = std::wstring(directory, length) + L'\\' + fileName;
    return path.size() < MAX_PATH ? path : std::wstring();
}

LoadedLibrary LoadSystemLibrary(const wchar_t* fileName)
{
    const std::wstring path = SystemLibraryPath(fileName);
    return path.empty() ? LoadedLibrary() : LoadedLibrary(LoadLibraryW(path.c_str()));
}
