#include "InstallerLaunch.h"

#include <shlobj.h>

const wchar_t* InstallerVerb(bool userIsAdmin)
{
    return userIsAdmin ? L"open" : L"runas";
}

SHELLEXECUTEINFOW DescribeInstallerLaunch(HWND dialog, const std::wstring& path, bool userIsAdmin)
{
    SHELLEXECUTEINFOW launch = {};
    launch.cbSize = sizeof(launch);
    launch.fMask = 0;
    launch.hwnd = dialog;
    launch.lpVerb = InstallerVerb(userIsAdmin);
    launch.lpFile = path.c_str();
    launch.lpParameters = L"";
    launch.lpDirectory = nullptr;
    launch.nShow = SW_SHOWNORMAL;
    return launch;
}

bool LaunchInstaller(HWND dialog, const std::wstring& path)
{
    SHELLEXECUTEINFOW launch = DescribeInstallerLaunch(dialog, path, IsUserAnAdmin() != FALSE);
    const bool taken = ShellExecuteExW(&launch) != FALSE;
    EndDialog(dialog, 1);
    return taken;
}
