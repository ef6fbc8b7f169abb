#pragma once

// True when a trace written now can be read: a debugger is attached to this
// process, or a debug-output viewer listens through the DBWIN protocol in
// this process's session.
//
// OutputDebugString hands its text to a viewer through objects that it opens
// by names without a namespace prefix (DBWIN_BUFFER, DBWIN_BUFFER_READY,
// DBWIN_DATA_READY, DBWinMutex: not documented by Windows, but what
// debug-output viewers and Wine's implementation use). Windows resolves such
// names in the caller's session namespace, as documented for kernel object
// names; in session 0 (services, and every logon on Windows XP without fast
// user switching) that namespace is the global one. A viewer that captures
// "Global\" only (DebugView's Capture Global Win32 alone) therefore reads the
// traces of session 0 and never those of an installer in a user's session.
// The one look-up made here, of the viewer's event under the name
// OutputDebugString itself opens, is true exactly when a text written now
// reaches a viewer; a "Global\" look-up on top of it could only add traces
// that nobody receives.
bool SomeoneReadsTraces();
