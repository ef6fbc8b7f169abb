#include "TraceListener.h"

#include <windows.h>

#include "UniqueHandle.h"

bool SomeoneReadsTraces()
{
    // IsDebuggerPresent reads this process's own block and asks no one. The
    // event is opened with SYNCHRONIZE, the right OutputDebugString waits on
    // it with: an event this process may not open that way could not hand it
    // a text either.
    if (IsDebuggerPresent()) return true;
    const UniqueHandle viewerEvent(OpenEventW(SYNCHRONIZE, FALSE, L"DBWIN_BUFFER_READY"));
    return static_cast<bool>(viewerEvent);
}
