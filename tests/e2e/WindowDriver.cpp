// Drives and observes the updater's windows from outside, as a user would,
// for the end-to-end tests. It reads one command a line on standard input
// and answers one line on standard output, so one Wine process serves a
// whole test run:
//
//   dialog MS         wait for the update dialog; "ok" or "timeout"
//   state             caption, status text, bar position, Install visible
//   text-extent ID [TEXT]  TEXT (or, without it, the text of control ID)
//                     measured in the font of the update dialog's control ID,
//                     inside the updater (text_extent_probe.dll):
//                     "width=W height=H client_width=CW client_height=CH
//                     dpi=DPI" (tab-separated; DPI: the dialog's, as the
//                     updater sees it), "none" without a dialog, or "error ..."
//   msgbox MS [POLL]  wait for a message box, looking every POLL ms (default 50);
//                     its caption, text and buttons
//   press ID          click button ID of the message box, or else the dialog
//   gone MS           wait until neither window is left
//   rect WHICH        the screen rectangle, frame included, of the message box
//                     (WHICH = msgbox) or the update dialog (dialog):
//                     "LEFT TOP RIGHT BOTTOM", or "none"
//   product-clear     delete the product key (32-bit view) and the user's LangId
//   product-dword NAME VALUE / product-sz NAME VALUE   set a product value
//   user-langid VALUE set the user's LangId
//   log-pixels VALUE  the user's display scaling in DPI, the value LogPixels
//                     under HKCU\Control Panel\Desktop, which Wine reads at
//                     each program's start; "default" deletes it (96 in a new
//                     prefix)
//   kill-updaters     end every Quillon.exe still running (clean-up between cases)
//   abandon-mutex     leave the updater's instance mutex abandoned: a thread
//                     takes it and ends without releasing it
//   hold-file PATH    open the file for reading and share it with nobody, until
//                     release-file ("ok", or "error <code>" when it cannot be held)
//
// Texts are written as UTF-8 with "\n" spelled out.
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>

#include "InstanceMutexName.h"
#include "LoadedLibrary.h"
#include "ProductKey.h"
#include "RegistryKey.h"
#include "TextExtentProbe.h"
#include "UniqueHandle.h"

namespace {
constexpr int kStatusId = 1002, kProgressId = 1001, kInstallId = 1003, kMessageTextId = 0xFFFF;

std::string Utf8(const std::wstring& text)
{
    std::string out;
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size > 1) {
        out.resize(size - 1);
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
    }
    std::string escaped;
    for (char c : out) escaped += (c == '\n') ? std::string("\\n") : (c == '\r' ? std::string("") : std::string(1, c));
    return escaped;
}

std::wstring Wide(const std::string& text)
{
    std::wstring out(text.size(), L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0],
                                      static_cast<int>(out.size()));
    out.resize(n > 0 ? n : 0);
    return out;
}

std::wstring WindowText(HWND window)
{
    wchar_t text[1024] = L"";
    GetWindowTextW(window, text, 1024);
    return text;
}

struct Search {
    int childId;
    HWND found;
};

BOOL CALLBACK FindDialogWithChild(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<Search*>(parameter);
    wchar_t className[64] = L"";
    GetClassNameW(window, className, 64);
    if (lstrcmpW(className, L"#32770") != 0 || !IsWindowVisible(window)) return TRUE;
    if (!GetDlgItem(window, search->childId)) return TRUE;
    search->found = window;
    return FALSE;
}

HWND FindDialog(int childId)
{
    Search search = {childId, nullptr};
    EnumWindows(FindDialogWithChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitFor(int childId, DWORD milliseconds, DWORD pollMs = 50)
{
    const DWORD start = GetTickCount();
    for (;;) {
        if (HWND window = FindDialog(childId)) return window;
        if (GetTickCount() - start >= milliseconds) return nullptr;
        Sleep(pollMs);
    }
}

void Answer(const std::string& line)
{
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void SetProductValue(HKEY root, const wchar_t* path, const std::wstring& name, DWORD type, const void* data, DWORD size)
{
    RegistryKey key;
    if (RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) != ERROR_SUCCESS ||
        RegSetValueExW(key.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size) != ERROR_SUCCESS)
        Answer("error cannot write " + Utf8(name));
    else
        Answer("ok");
}

// Owns one window hook; removes it on every path out.
class WindowHook {
public:
    explicit WindowHook(HHOOK hook) : hook_(hook) {}
    WindowHook(const WindowHook&) = delete;
    WindowHook& operator=(const WindowHook&) = delete;
    ~WindowHook()
    {
        if (hook_) UnhookWindowsHookEx(hook_);
    }
    explicit operator bool() const { return hook_ != nullptr; }

private:
    HHOOK hook_;
};

std::wstring BesideDriver(const wchar_t* fileName)
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring directory(path, length < MAX_PATH ? length : 0);
    directory.erase(directory.find_last_of(L"\\/") + 1);
    return directory + fileName;
}

// text-extent: the probe measures inside the updater, on the dialog's thread.
void AnswerTextExtent(int controlId, const std::wstring& text)
{
    HWND dialog = FindDialog(kProgressId);
    if (!dialog) return Answer("none");
    const UniqueHandle mapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                  sizeof(TextExtentRequest), kTextExtentMapping));
    const RequestView view(mapping.get());
    TextExtentRequest* request = view.get();
    if (!request) return Answer("error no shared memory");
    ZeroMemory(request, sizeof(*request));
    request->controlId = controlId;
    lstrcpynW(request->text, text.c_str(), kTextExtentCapacity);

    const LoadedLibrary probe(LoadLibraryW(BesideDriver(L"text_extent_probe.dll").c_str()));
    const auto hookProcedure = probe.Find<HOOKPROC>(kTextExtentHook);
    if (!hookProcedure) return Answer("error no text_extent_probe.dll");
    const WindowHook hook(
        SetWindowsHookExW(WH_CALLWNDPROC, hookProcedure, probe.get(), GetWindowThreadProcessId(dialog, nullptr)));
    if (!hook) return Answer("error hook " + std::to_string(GetLastError()));
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutW(dialog, RegisterWindowMessageW(kTextExtentMessage), 0, 0, SMTO_ABORTIFHUNG, 5000,
                             &ignored))
        return Answer("error the dialog did not answer");
    if (request->answered == -1) return Answer("error no control " + std::to_string(controlId));
    if (request->answered != 1) return Answer("error the probe did not run in the updater");
    Answer("width=" + std::to_string(request->extent.cx) + "\theight=" + std::to_string(request->extent.cy) +
           "\tclient_width=" + std::to_string(request->client.cx) +
           "\tclient_height=" + std::to_string(request->client.cy) + "\tdpi=" + std::to_string(request->dpi));
}

// Kept open so the abandoned mutex outlives the thread that abandoned it.
UniqueHandle g_abandonedMutex;
// A file held open without sharing, for hold-file.
UniqueHandle g_heldFile;

DWORD WINAPI TakeMutexAndLeave(void* mutex)
{
    WaitForSingleObject(mutex, INFINITE);
    return 0;  // ends still owning it: the mutex is now abandoned
}

void Handle(const std::string& command, const std::string& argument, const std::string& rest)
{
    const DWORD wait = static_cast<DWORD>(std::strtoul(argument.c_str(), nullptr, 10));
    if (command == "dialog") {
        Answer(WaitFor(kProgressId, wait) ? "ok" : "timeout");
    } else if (command == "state") {
        HWND dialog = FindDialog(kProgressId);
        if (!dialog) return Answer("none");
        const LRESULT position = SendDlgItemMessageW(dialog, kProgressId, PBM_GETPOS, 0, 0);
        Answer("caption=" + Utf8(WindowText(dialog)) + "\tstatus=" + Utf8(WindowText(GetDlgItem(dialog, kStatusId))) +
               "\tprogress=" + std::to_string(position) +
               "\tinstall_visible=" + (IsWindowVisible(GetDlgItem(dialog, kInstallId)) ? "1" : "0") +
               "\tcancel=" + Utf8(WindowText(GetDlgItem(dialog, IDCANCEL))));
    } else if (command == "text-extent") {
        AnswerTextExtent(std::atoi(argument.c_str()), Wide(rest));
    } else if (command == "msgbox") {
        const DWORD poll = rest.empty() ? 50 : static_cast<DWORD>(std::strtoul(rest.c_str(), nullptr, 10));
        HWND box = WaitFor(kMessageTextId, wait, poll > 0 ? poll : 1);
        if (!box) return Answer("timeout");
        std::string buttons;
        for (int id : {IDOK, IDCANCEL, IDRETRY})
            if (HWND button = GetDlgItem(box, id); button && IsWindowVisible(button))
                buttons += (buttons.empty() ? "" : ",") + std::to_string(id);
        Answer("caption=" + Utf8(WindowText(box)) + "\ttext=" + Utf8(WindowText(GetDlgItem(box, kMessageTextId))) +
               "\tbuttons=" + buttons);
    } else if (command == "press") {
        const int id = std::atoi(argument.c_str());
        HWND target = FindDialog(kMessageTextId);
        if (!target) target = FindDialog(kProgressId);
        HWND button = target ? GetDlgItem(target, id) : nullptr;
        if (!button) return Answer("error no button " + argument);
        PostMessageW(target, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
        Answer("ok");
    } else if (command == "rect") {
        HWND window = argument == "msgbox" ? FindDialog(kMessageTextId)
                      : argument == "dialog" ? FindDialog(kProgressId) : nullptr;
        RECT frame = {};
        if (!window || !GetWindowRect(window, &frame)) return Answer("none");
        Answer(std::to_string(frame.left) + " " + std::to_string(frame.top) + " " + std::to_string(frame.right) +
               " " + std::to_string(frame.bottom));
    } else if (command == "gone") {
        const DWORD start = GetTickCount();
        while (FindDialog(kProgressId) || FindDialog(kMessageTextId)) {
            if (GetTickCount() - start >= wait) return Answer("timeout");
            Sleep(50);
        }
        Answer("ok");
    } else if (command == "product-clear") {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProductKeyPath);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kProductKeyPath);
        RegDeleteTreeW(HKEY_CURRENT_USER, kProductKeyPath);
        RegDeleteKeyW(HKEY_CURRENT_USER, kProductKeyPath);
        Answer("ok");
    } else if (command == "product-dword" || command == "user-langid") {
        const bool user = command == "user-langid";
        const DWORD value = static_cast<DWORD>(std::strtoul((user ? argument : rest).c_str(), nullptr, 10));
        SetProductValue(user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, kProductKeyPath,
                        user ? std::wstring(L"LangId") : Wide(argument), REG_DWORD, &value, sizeof(value));
    } else if (command == "product-sz") {
        const std::wstring value = Wide(rest);
        SetProductValue(HKEY_LOCAL_MACHINE, kProductKeyPath, Wide(argument), REG_SZ, value.c_str(),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    } else if (command == "log-pixels") {
        RegistryKey desktop;
        const DWORD dpi = static_cast<DWORD>(std::strtoul(argument.c_str(), nullptr, 10));
        LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_SET_VALUE,
                                         nullptr, desktop.put(), nullptr);
        if (status == ERROR_SUCCESS && argument == "default") {
            status = RegDeleteValueW(desktop.get(), L"LogPixels");
            if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
        } else if (status == ERROR_SUCCESS) {
            status = RegSetValueExW(desktop.get(), L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                                    sizeof(dpi));
        }
        Answer(status == ERROR_SUCCESS ? "ok" : "error " + std::to_string(status));
    } else if (command == "abandon-mutex") {
        DWORD session = 0;
        ProcessIdToSessionId(GetCurrentProcessId(), &session);
        g_abandonedMutex.reset(CreateMutexW(nullptr, FALSE, InstanceMutexName(session).c_str()));
        UniqueHandle thread(CreateThread(nullptr, 0, TakeMutexAndLeave, g_abandonedMutex.get(), 0, nullptr));
        Answer(g_abandonedMutex && thread && WaitForSingleObject(thread.get(), 5000) == WAIT_OBJECT_0 ? "ok" : "error");
    } else if (command == "hold-file") {
        const std::wstring path = Wide(argument + (rest.empty() ? "" : " " + rest));
        g_heldFile.reset(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        Answer(g_heldFile ? "ok" : "error " + std::to_string(GetLastError()));
    } else if (command == "release-file") {
        g_heldFile.reset();
        Answer("ok");
    } else if (command == "release-mutex") {
        g_abandonedMutex.reset();
        Answer("ok");
    } else if (command == "kill-updaters") {
        int ended = 0;
        UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof(entry);
        for (BOOL more = snapshot && Process32FirstW(snapshot.get(), &entry); more;
             more = Process32NextW(snapshot.get(), &entry)) {
            if (lstrcmpiW(entry.szExeFile, L"Quillon.exe") != 0) continue;
            UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
            if (process && TerminateProcess(process.get(), 0)) {
                WaitForSingleObject(process.get(), 5000);
                ++ended;
            }
        }
        Answer("ok " + std::to_string(ended));
    } else {
        Answer("error unknown command " + command);
    }
}
}  // namespace

int main()
{
    char line[8192];
    while (std::fgets(line, sizeof(line), stdin)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        if (text == "quit") break;
        const std::size_t first = text.find(' ');
        const std::string command = text.substr(0, first);
        std::string argument, rest;
        if (first != std::string::npos) {
            const std::size_t second = text.find(' ', first + 1);
            argument = text.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
            if (second != std::string::npos) rest = text.substr(second + 1);
        }
        Handle(command, argument, rest);
    }
    return 0;
}
