#pragma once
#include <windows.h>
#include <cstdint>

// The two messages between a download and the window that owns it
// (WM_USER + 1001 and WM_USER + 1002). Any program on the desktop can send or
// post these numbers to a top-level window, and some broadcast private
// WM_USER-range messages to every one, so a message proves nothing by itself:
//
// - wParam names the download it reports on (its generation, a number the
//   worker gives each Start). The owner asks its worker whether that is the
//   current download and reads the report from the worker; a message of
//   another download, or a forged one, finds nothing to read.
// - lParam is 0 and never read. No report travels by address, so no pointer
//   from a message is ever dereferenced.
//
// WM_DOWNLOAD_PROGRESS is sent, never posted, once per progress report: the
// download thread waits until the owner has handled it. WM_DOWNLOAD_DONE is
// posted once per download, after it has ended; whether the file arrived is
// read from the worker, once.
constexpr UINT WM_DOWNLOAD_PROGRESS = WM_USER + 1001;
constexpr UINT WM_DOWNLOAD_DONE = WM_USER + 1002;

// One progress report of the URL moniker, as the worker keeps it. The
// moniker's status text is not kept: it lives only for the duration of the
// moniker's call, and nothing shows it.
struct DownloadProgress {
    std::uint32_t progress;      // received so far
    std::uint32_t progressMax;   // expected total; 0 when the moniker knows none
    std::uint32_t statusCode;    // BINDSTATUS 1..33, or 34 for any other value
};

// The status texts exist for BINDSTATUS 1..33 and one catch-all, 34; codes
// outside that range (0, and those newer systems added) share the catch-all.
constexpr std::uint32_t kOtherStatusCode = 34;
constexpr std::uint32_t FoldStatusCode(unsigned long statusCode)
{
    return (statusCode >= 1 && statusCode <= 33) ? static_cast<std::uint32_t>(statusCode) : kOtherStatusCode;
}
