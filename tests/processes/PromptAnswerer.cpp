// PromptAnswerer <caption> <retry|cancel> <timeout-ms> <text-file>
// Waits up to timeout-ms for a message box with the caption, writes its
// message text to text-file (UTF-16LE with BOM), and presses the button.
// Exit code: 0 when answered, 1 when no such box appeared, 2 on bad arguments.
#include <windows.h>

#include "UniqueHandle.h"

#include <cwchar>
#include <string>

namespace {
BOOL CALLBACK FindMessageText(HWND child, LPARAM found)
{
    wchar_t className[32] = {};
    GetClassNameW(child, className, 32);
    if (lstrcmpiW(className, L"Static") != 0) return TRUE;
    wchar_t text[4096] = {};
    GetWindowTextW(child, text, 4096);
    if (text[0] == L'\0') return TRUE;  // the icon's static has no text
    *reinterpret_cast<std::wstring*>(found) = text;
    return FALSE;
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 5) return 2;
    const int button = lstrcmpiW(argv[2], L"retry") == 0 ? IDRETRY : IDCANCEL;
    const DWORD timeout = static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10));

    HWND box = nullptr;
    const DWORD start = GetTickCount();
    while (!(box = FindWindowW(L"#32770", argv[1])) && GetTickCount() - start < timeout) Sleep(100);
    if (!box) return 1;
    Sleep(200);  // let the box finish laying out its controls

    std::wstring text;
    EnumChildWindows(box, FindMessageText, reinterpret_cast<LPARAM>(&text));
    const UniqueHandle file(
        CreateFileW(argv[4], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
        DWORD written = 0;
        const wchar_t bom = 0xFEFF;
        WriteFile(file.get(), &bom, sizeof(bom), &written, nullptr);
        WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
    }
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
    return 0;
}
