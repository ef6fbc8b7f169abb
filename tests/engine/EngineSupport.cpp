#include "EngineSupport.h"

#include <urlmon.h>
#include <wininet.h>

#include "ComInitialization.h"
#include "TestPaths.h"
#include "UniqueHandle.h"

namespace {
constexpr const wchar_t* kOwnerClass = L"QuillonEngineTestOwner";

void RegisterOwnerClass(WNDPROC procedure)
{
    static const ATOM atom = [procedure] {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kOwnerClass;
        return RegisterClassW(&windowClass);
    }();
    (void)atom;
}
}  // namespace

OwnerWindow::OwnerWindow()
{
    RegisterOwnerClass(Procedure);
    window = CreateWindowExW(0, kOwnerClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr),
                             nullptr);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

OwnerWindow::~OwnerWindow()
{
    Destroy();
}

void OwnerWindow::Destroy()
{
    if (window) DestroyWindow(window);
    window = nullptr;
}

LRESULT CALLBACK OwnerWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* owner = reinterpret_cast<OwnerWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (owner && (message == WM_DOWNLOAD_PROGRESS || message == WM_DOWNLOAD_DONE) && lParam != 0) {
        // No report carries anything in lParam: a fault the tests catch.
        owner->done.push_back(kOutcomeNotTaken);
        return 0;
    }
    if (owner && message == WM_DOWNLOAD_PROGRESS) {
        SeenReport seen{};
        seen.generation = wParam;
        if (!owner->readProgress || !owner->readProgress(wParam, seen.record))
            seen.record.statusCode = 0xDEAD;  // a report that cannot be read back is a fault the tests catch
        seen.sentByAnotherThread = InSendMessage() != FALSE;
        owner->reports.push_back(seen);
        return 0;
    }
    if (owner && message == WM_DOWNLOAD_DONE) {
        if (owner->done.empty()) owner->reportsWhenDone = owner->reports.size();
        bool arrived = false;
        owner->done.push_back(owner->takeOutcome && owner->takeOutcome(wParam, arrived) ? (arrived ? 1 : 0)
                                                                                          : kOutcomeNotTaken);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void OwnerWindow::Drain()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

bool OwnerWindow::PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        Drain();
        if (condition()) return true;
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - elapsed < 50 ? timeoutMs - elapsed : 50, QS_ALLINPUT);
    }
}

std::uint32_t OwnerWindow::MaxProgress() const
{
    std::uint32_t most = 0;
    for (const SeenReport& seen : reports)
        if (seen.record.progress > most) most = seen.record.progress;
    return most;
}

bool FileExists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ReadFileBytes(const std::wstring& path)
{
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return std::string();
    std::string bytes;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file.get(), chunk, sizeof(chunk), &got, nullptr) && got > 0) bytes.append(chunk, got);
    return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

std::string PatternBytes(std::size_t count)
{
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>(i % 251);
    return bytes;
}

HRESULT DownloadDirectly(const std::wstring& url, const std::wstring& path)
{
    const ComInitialization com;
    DeleteUrlCacheEntryW(url.c_str());
    return URLDownloadToFileW(nullptr, url.c_str(), path.c_str(), 0, nullptr);
}

std::wstring UpdateServer()
{
    return Environment(L"QUILLON_UPDATE_SERVER");
}

std::wstring ServedFile(const wchar_t* name)
{
    return Environment(L"QUILLON_SERVED_DIR") + L"\\" + name;
}

std::string Narrow(const std::wstring& text)
{
    std::string narrow;
    for (wchar_t unit : text) narrow += unit < 0x80 ? static_cast<char>(unit) : '?';
    return narrow;
}
