#include "TestPaths.h"

#include <windows.h>

std::wstring BesideTests(const wchar_t* fileName)
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring directory(path, length);
    directory.erase(directory.find_last_of(L"\\/") + 1);
    return directory + fileName;
}

std::wstring Beside32BitTests(const wchar_t* fileName)
{
    if (sizeof(void*) == 4) return BesideTests(fileName);
    // Without "..": the system names processes and modules by their real paths.
    std::wstring parent = BesideTests(L"");
    parent.erase(parent.find_last_of(L"\\/", parent.size() - 2) + 1);
    return parent + fileName;
}

std::wstring Environment(const wchar_t* name)
{
    wchar_t value[1024];
    const DWORD length = GetEnvironmentVariableW(name, value, 1024);
    return (length > 0 && length < 1024) ? std::wstring(value, length) : std::wstring();
}
