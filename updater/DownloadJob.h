#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "DownloadMessages.h"

// One download, shared by the worker on its owner's thread and by the
// download thread: what to fetch and where to put it (fixed when it starts),
// the latest progress report, whether it was cancelled, how it ended, and the
// window to tell. The owner reads reports and the outcome from here, never
// from a message, so a message can name a download but not make one up.
//
// Counted like a COM object, so that it lives while either side holds it:
// the worker may give up on a download that does not end, and go, while the
// thread still runs.
class DownloadJob {
public:
    // generation names the download in its messages; it is never 0.
    DownloadJob(std::uint32_t generation, std::wstring url, std::wstring path);
    DownloadJob(const DownloadJob&) = delete;
    DownloadJob& operator=(const DownloadJob&) = delete;

    ULONG AddRef();
    ULONG Release();  // frees the job with the last reference

    std::uint32_t Generation() const { return generation_; }
    const std::wstring& Url() const { return url_; }
    const std::wstring& Path() const { return path_; }

    // ---- the download thread ----
    // Keeps the report, then sends WM_DOWNLOAD_PROGRESS to the owner, if it
    // has one yet, and returns once the owner has handled it. Without an
    // owner the report is held for it.
    void Report(const DownloadProgress& report);
    bool CancelRequested() const;
    // Keeps the outcome, then posts WM_DOWNLOAD_DONE to the owner, if it has
    // one yet. Once per job.
    void Finish(bool arrived);

    // ---- the owner's thread ----
    // From now on the reports go to owner (null: to nobody). A report held
    // meanwhile, and an end that came before, are announced to it at once.
    void AttachOwner(HWND owner);
    void RequestCancel();
    // The latest report; false before the first.
    bool LatestReport(DownloadProgress& report) const;
    // How the download ended, handed out once: false while it runs, and for
    // every later asking.
    bool TakeOutcome(bool& arrived);

private:
    ~DownloadJob() = default;
    HWND Owner() const;

    enum : LONG { kRunning = 0, kArrived = 1, kFailed = 2 };

    const std::uint32_t generation_;
    const std::wstring url_;
    const std::wstring path_;
    LONG references_ = 1;
    LONG cancelled_ = 0;
    LONG outcome_ = kRunning;
    bool outcomeTaken_ = false;  // the owner's thread only
    void* owner_ = nullptr;      // an HWND, exchanged with interlocked calls
    // The latest report, written by the download thread and read by the
    // owner's; a forged message may make the owner read it at any moment.
    mutable SRWLOCK reportLock_ = SRWLOCK_INIT;
    bool hasReport_ = false;
    DownloadProgress report_{};
};
