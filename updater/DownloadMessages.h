#pragma once
#include <windows.h>
#include <cstdint>

// The two messages between the download thread and the window that owns the
// download (WM_USER + 1001 and WM_USER + 1002).
//
// WM_DOWNLOAD_PROGRESS is sent, never posted: the download thread waits until
// the owner has handled it, so lParam may point at a record on that thread's
// stack. wParam is 0.
constexpr UINT WM_DOWNLOAD_PROGRESS = WM_USER + 1001;
// WM_DOWNLOAD_DONE is posted once per download: wParam 1 when the file has
// arrived, 0 when the download failed or was cancelled; lParam is 0.
constexpr UINT WM_DOWNLOAD_DONE = WM_USER + 1002;

// One progress report of the URL moniker, carried by address with
// WM_DOWNLOAD_PROGRESS and valid only while that message is handled.
struct DownloadProgress {
    std::uint32_t progress;      // received so far
    std::uint32_t progressMax;   // expected total; 0 when the moniker knows none
    std::uint32_t statusCode;    // BINDSTATUS 1..33, or 34 for any other value
    const wchar_t* statusText;   // owned by the moniker; may be null
};

// The status texts exist for BINDSTATUS 1..33 and one catch-all, 34; codes
// outside that range (0, and those newer systems added) share the catch-all.
constexpr std::uint32_t kOtherStatusCode = 34;
constexpr std::uint32_t FoldStatusCode(unsigned long statusCode)
{
    return (statusCode >= 1 && statusCode <= 33) ? static_cast<std::uint32_t>(statusCode) : kOtherStatusCode;
}
