#include <windows.h>

#include "InstanceMutexName.h"
#include "UniqueHandle.h"
#include "UpdateDialog.h"

// One updater per logon session. The command line and the show state are
// not used, and the exit code is 0 whatever happened.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);  // session 0 if the call fails
    const UniqueHandle mutex(CreateMutexW(nullptr, FALSE, InstanceMutexName(session).c_str()));
    if (!mutex) return 0;

    // Another instance holding the mutex makes this one leave silently. An
    // abandoned mutex means the previous holder has gone: this instance now
    // owns it and goes on.
    const DWORD wait = WaitForSingleObject(mutex.get(), 100);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) return 0;

    {
        // The dialog object goes before the mutex is closed: its worker stops
        // and waits for a running download first.
        UpdateDialog dialog;
        dialog.Run(instance, GetActiveWindow());
    }
    return 0;
}
