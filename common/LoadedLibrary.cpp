#include "LoadedLibrary.h"

LoadedLibrary LoadSystemLibrary(const wchar_t* fileName)
{
    wchar_t path[MAX_PATH];
    const UINT directoryLength = GetSystemDirectoryW(path, MAX_PATH);
    const int nameLength = lstrlenW(fileName);
    // The directory, a separator, the name and the terminator must all fit.
    if (directoryLength == 0 || directoryLength + 1 + nameLength + 1 > MAX_PATH) return LoadedLibrary();
    path[directoryLength] = L'\\';
    lstrcpyW(path + directoryLength + 1, fileName);
    return LoadedLibrary(LoadLibraryW(path));
}
