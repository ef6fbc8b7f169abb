#include <windows.h>
#include <commctrl.h>

#include "resources/resource.h"

namespace {
// Placeholder dialog procedure until the update dialog takes over: the window
// only closes again.
INT_PTR CALLBACK PlainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, 2);
        return TRUE;
    }
    return FALSE;
}
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    InitCommonControls();
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_UPDATE), GetActiveWindow(), PlainDialogProc, 0);
    return 0;
}
