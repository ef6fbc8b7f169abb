// FindProc: whether a process with a given executable name runs, as a
// decimal code in $R0.
#include "CallFrame.h"
#include "ProcessFinder.h"

NSIS_PLUGIN_EXPORT(FindProc)
{
    wchar_t name[kArgumentCapacity] = L"";
    // A name longer than the buffer is never searched cut short.
    const int code = PopString(name, kArgumentCapacity) == PopResult::TooLong ? kNameRejected : FindProcessByName(name);
    wchar_t text[16];
    wsprintfW(text, L"%d", code);
    SetResult(text);
}
