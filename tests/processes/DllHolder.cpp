// DllHolder <ready-file> <lifetime-ms> <dll>...
// Loads each DLL in order, then creates ready-file and keeps the DLLs loaded
// until a file named ready-file + ".stop" appears or the lifetime has passed,
// so that a test that dies never leaves it running for long.
// Exit code: 0 after a stop or the lifetime, 2 on bad arguments, 3 when a DLL
// would not load (ready-file is not created then).
#include <windows.h>

#include "UniqueHandle.h"

#include <algorithm>
#include <cwchar>
#include <string>

namespace {
// A change notification on a folder, closed the way it must be.
class FolderWatch {
public:
    explicit FolderWatch(const std::wstring& folder)
        : handle_(FindFirstChangeNotificationW(folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME))
    {
    }
    ~FolderWatch()
    {
        if (handle_ != INVALID_HANDLE_VALUE) FindCloseChangeNotification(handle_);
    }
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Waits for a file to come or go in the folder, at most timeout; without
    // a notification, only the timeout.
    void Wait(DWORD timeout)
    {
        if (handle_ == INVALID_HANDLE_VALUE) {
            Sleep(timeout);
        } else if (WaitForSingleObject(handle_, timeout) == WAIT_OBJECT_0) {
            FindNextChangeNotification(handle_);
        }
    }

private:
    HANDLE handle_;
};

std::wstring FolderOf(const std::wstring& path)
{
    const std::size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring(L".") : path.substr(0, separator + 1);
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) return 2;
    const std::wstring readyFile = argv[1];
    const DWORD lifetime = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10));
    for (int i = 3; i < argc; ++i)
        if (!LoadLibraryW(argv[i])) return 3;

    // Watched before the ready file exists, so that no stop file can come
    // unseen in between. Hundreds of holders run in the process benchmark:
    // they wait for the folder to change instead of looking every moment.
    FolderWatch watch(FolderOf(readyFile));
    const UniqueHandle ready(
        CreateFileW(readyFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!ready) return 2;

    const std::wstring stopFile = readyFile + L".stop";
    const DWORD start = GetTickCount();
    for (;;) {
        if (GetFileAttributesW(stopFile.c_str()) != INVALID_FILE_ATTRIBUTES) break;
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= lifetime) break;
        // A notification missed is made up for within a second.
        watch.Wait(std::min<DWORD>(lifetime - elapsed, 1000));
    }
    return 0;
}
