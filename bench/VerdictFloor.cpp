// verdict_floor <url-of-version-file>
// The least a program can do to reach the updater's "up to date" verdict: it
// fetches the version file with URLDownloadToFileW into the temporary folder,
// reads LatestVersion and shows a message box. Timed from outside like
// Quillon.exe, it is the floor that the updater's time to verdict is held
// against.
#include <windows.h>
#include <shellapi.h>
#include <urlmon.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 2) return 2;
    wchar_t folder[MAX_PATH], file[MAX_PATH];
    if (!GetTempPathW(MAX_PATH, folder) || !GetTempFileNameW(folder, L"vf", 0, file)) return 3;
    const bool fetched = SUCCEEDED(URLDownloadToFileW(nullptr, argv[1], file, 0, nullptr));
    const UINT latest = fetched ? GetPrivateProfileIntW(L"ServerSoftVersion", L"LatestVersion", 0, file) : 0;
    DeleteFileW(file);
    wchar_t text[64];
    wsprintfW(text, L"LatestVersion=%u", latest);
    MessageBoxW(nullptr, text, L"verdict_floor", MB_OK | MB_ICONWARNING);
    LocalFree(argv);
    return fetched ? 0 : 1;
}
