// Stands in for a downloaded installer: started through the shell, it leaves
// "<its own path>.mark" holding its command-line arguments and its working
// directory, one a line, so a test can tell that it ran and how.
#include <windows.h>

#include <string>

#include "UniqueHandle.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR arguments, int)
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 1;
    wchar_t directory[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, directory);
    const std::wstring mark = std::wstring(path, length) + L".mark";
    const std::wstring text = std::wstring(L"[") + arguments + L"]\r\n" + directory + L"\r\n";
    const UniqueHandle file(CreateFileW(mark.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) return 1;
    DWORD written = 0;
    WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
    return 0;
}
