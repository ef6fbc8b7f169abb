#pragma once
#include <windows.h>
#include <shellapi.h>
#include <string>

// The shell verb for the installer: "open" keeps the updater's rights when it
// already is an administrator; "runas" asks the user to elevate.
const wchar_t* InstallerVerb(bool userIsAdmin);

// The shell request that starts the installer at path for the dialog: no
// process handle asked for, an empty parameter string, no working directory,
// a normal window. path must outlive the record.
SHELLEXECUTEINFOW DescribeInstallerLaunch(HWND dialog, const std::wstring& path, bool userIsAdmin);

// Hands the installer at path to the shell and ends the dialog with 1,
// whatever the shell answered: the updater neither waits for the installer
// nor reports a refused elevation. Gives back whether the shell took the
// file (a refused elevation or a file it cannot start: false), which decides
// only whether the file stays after the run.
bool LaunchInstaller(HWND dialog, const std::wstring& path);
