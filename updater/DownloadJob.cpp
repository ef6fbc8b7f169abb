#include "DownloadJob.h"

#include <utility>

DownloadJob::DownloadJob(std::uint32_t generation, std::wstring url, std::wstring path)
    : generation_(generation), url_(std::move(url)), path_(std::move(path))
{
}

ULONG DownloadJob::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&references_));
}

ULONG DownloadJob::Release()
{
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

HWND DownloadJob::Owner() const
{
    return static_cast<HWND>(InterlockedCompareExchangePointer(const_cast<void**>(&owner_), nullptr, nullptr));
}

void DownloadJob::Report(const DownloadProgress& report)
{
    AcquireSRWLockExclusive(&reportLock_);
    report_ = report;
    hasReport_ = true;
    ReleaseSRWLockExclusive(&reportLock_);
    if (const HWND owner = Owner()) SendMessageW(owner, WM_DOWNLOAD_PROGRESS, generation_, 0);
}

bool DownloadJob::CancelRequested() const
{
    return InterlockedCompareExchange(const_cast<LONG*>(&cancelled_), 0, 0) != 0;
}

void DownloadJob::Finish(bool arrived)
{
    // The outcome is stored before the owner is read, and AttachOwner stores
    // the owner before it reads the outcome: whichever comes second sees the
    // other's write, so the end is announced at least once. A second
    // announcement finds the outcome taken.
    InterlockedExchange(&outcome_, arrived ? kArrived : kFailed);
    if (const HWND owner = Owner()) PostMessageW(owner, WM_DOWNLOAD_DONE, generation_, 0);
}

void DownloadJob::AttachOwner(HWND owner)
{
    InterlockedExchangePointer(&owner_, owner);
    if (!owner) return;
    // Posted, not sent: the owner may be in the middle of creating itself.
    DownloadProgress held;
    if (LatestReport(held)) PostMessageW(owner, WM_DOWNLOAD_PROGRESS, generation_, 0);
    if (InterlockedCompareExchange(&outcome_, kRunning, kRunning) != kRunning)
        PostMessageW(owner, WM_DOWNLOAD_DONE, generation_, 0);
}

void DownloadJob::RequestCancel()
{
    InterlockedExchange(&cancelled_, 1);
}

bool DownloadJob::LatestReport(DownloadProgress& report) const
{
    AcquireSRWLockShared(&reportLock_);
    const bool has = hasReport_;
    if (has) report = report_;
    ReleaseSRWLockShared(&reportLock_);
    return has;
}

bool DownloadJob::TakeOutcome(bool& arrived)
{
    const LONG outcome = InterlockedCompareExchange(&outcome_, kRunning, kRunning);
    if (outcome == kRunning || outcomeTaken_) return false;
    outcomeTaken_ = true;
    arrived = outcome == kArrived;
    return true;
}
