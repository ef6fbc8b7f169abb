#include "CommonControls.h"

#include <windows.h>
#include <commctrl.h>

LoadedLibrary LoadCommonControls()
{
    LoadedLibrary library(LoadLibraryW(L"comctl32.dll"));
    const auto initialize = library.Find<decltype(&InitCommonControlsEx)>("InitCommonControlsEx");
    const INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_PROGRESS_CLASS};
    if (!initialize || !initialize(&classes)) library.reset();
    return library;
}
