// text_extent_probe.dll: measures a text with the font of a control of the
// update dialog, inside the updater's process, for window_driver.exe's
// text-extent command (TextExtentProbe.h tells how the two meet). A test
// helper: it never ships.
#include <windows.h>

#include "LoadedLibrary.h"
#include "TextExtentProbe.h"
#include "UniqueHandle.h"

namespace {
void Measure(HWND dialog)
{
    const UniqueHandle mapping(OpenFileMappingW(FILE_MAP_WRITE, FALSE, kTextExtentMapping));
    if (!mapping) return;
    const RequestView view(mapping.get());
    TextExtentRequest* request = view.get();
    if (!request) return;

    HWND control = GetDlgItem(dialog, request->controlId);
    if (!control) {
        request->answered = -1;
        return;
    }
    wchar_t text[kTextExtentCapacity] = L"";
    lstrcpynW(text, request->text, kTextExtentCapacity);
    if (!text[0]) GetWindowTextW(control, text, kTextExtentCapacity);

    // The font the control draws with: the one the dialog manager made from
    // the template for the dialog's DPI, or the system font when it has none.
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    HDC dc = GetDC(control);
    const HGDIOBJ previous = SelectObject(dc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(SYSTEM_FONT));
    SIZE extent = {};
    GetTextExtentPoint32W(dc, text, lstrlenW(text), &extent);
    SelectObject(dc, previous);
    ReleaseDC(control, dc);

    RECT client = {};
    GetClientRect(control, &client);
    request->extent = extent;
    request->client = {client.right - client.left, client.bottom - client.top};
    // Asked here: another process would be told its own DPI.
    const auto dpiForWindow = FindExport<UINT(WINAPI*)(HWND)>(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow");
    request->dpi = dpiForWindow ? dpiForWindow(dialog) : 0;
    request->answered = 1;
}
}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK MeasureTextExtent(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call && call->message == RegisterWindowMessageW(kTextExtentMessage)) Measure(call->hwnd);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
