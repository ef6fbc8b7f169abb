#pragma once
#include <windows.h>

#include <string>

// Name of the mutex that lets one updater run per logon session. It carries
// no namespace prefix, so it lives in the session's own namespace, and the
// session number keeps sessions apart on systems that share one.
std::wstring InstanceMutexName(DWORD sessionId);
