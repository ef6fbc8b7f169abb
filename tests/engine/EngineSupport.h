#pragma once
#include "ScratchDirectory.h"
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "DownloadMessages.h"

// A progress report as the owner window saw it.
struct SeenReport {
    WPARAM generation;         // the message's wParam
    DownloadProgress record;   // read back for that generation; statusCode 0xDEAD when nothing could be
    bool sentByAnotherThread;  // InSendMessage: it came through a cross-thread send
};

// What done records for a completion whose outcome could not be taken.
constexpr WPARAM kOutcomeNotTaken = 0xBAD;

// A message-only window on the test's thread that plays the download's owner:
// it records every WM_DOWNLOAD_PROGRESS and WM_DOWNLOAD_DONE it receives,
// reading the report or the outcome back as the dialog does.
class OwnerWindow {
public:
    OwnerWindow();
    ~OwnerWindow();
    OwnerWindow(const OwnerWindow&) = delete;
    OwnerWindow& operator=(const OwnerWindow&) = delete;

    HWND get() const { return window; }
    void Destroy();

    // Runs this thread's messages until the condition holds or the time is up.
    bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs);
    // Dispatches whatever is queued now, without waiting.
    void Drain();

    // How a message's report and outcome are read back, given the message's
    // generation; typically the worker's ReadProgress and TakeOutcome.
    std::function<bool(WPARAM, DownloadProgress&)> readProgress;
    std::function<bool(WPARAM, bool&)> takeOutcome;

    std::vector<SeenReport> reports;
    std::vector<WPARAM> done;  // 1 arrived, 0 failed, kOutcomeNotTaken
    std::size_t reportsWhenDone = 0;  // reports seen when the first WM_DOWNLOAD_DONE came
    std::uint32_t MaxProgress() const;

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND window = nullptr;
};

bool FileExists(const std::wstring& path);
bool DirectoryExists(const std::wstring& path);
// The file's bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::wstring& path);
// Writes bytes as the whole file, replacing any; false when it cannot.
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
// What the update server generates: byte i is i % 251.
std::string PatternBytes(std::size_t count);

// The moniker's own answer for url, without the worker around it.
HRESULT DownloadDirectly(const std::wstring& url, const std::wstring& path);

// The update server's address, or empty when the tests run without it.
std::wstring UpdateServer();
// A file of the directory the update server serves under /files/.
std::wstring ServedFile(const wchar_t* name);

std::string Narrow(const std::wstring& text);
