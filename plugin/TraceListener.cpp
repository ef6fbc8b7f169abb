#include "TraceListener.h"

#include <windows.h>

#include "UniqueHandle.h"

namespace {
bool EventExists(const wchar_t* name)
{
    // OutputDebugString waits on the event with SYNCHRONIZE; an event this
    // process may not open that way could not hand it a text either.
    const UniqueHandle event(OpenEventW(SYNCHRONIZE, FALSE, name));
    return static_cast<bool>(event);
}
}  // namespace

bool SomeoneReadsTraces()
{
    return IsDebuggerPresent() || EventExists(L"DBWIN_BUFFER_READY") || EventExists(L"Global\\DBWIN_BUFFER_READY");
}
