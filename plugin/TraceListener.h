#pragma once

// True when a trace written now can be read: a debugger is attached to this
// process, or a debug-output viewer listens through the DBWIN protocol, whose
// listener creates the event DBWIN_BUFFER_READY in the session's namespace or
// in the global one.
bool SomeoneReadsTraces();
