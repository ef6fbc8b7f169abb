#include "DownloadWorker.h"

#include <urlmon.h>
#include <wininet.h>

#include <memory>

#include "ComInitialization.h"
#include "DownloadDirectory.h"
#include "DownloadMessages.h"
#include "DownloadStatusCallback.h"
#include "HttpStatus.h"

namespace {
// What one download thread needs, copied when the download starts; the thread
// owns and frees it.
struct DownloadJob {
    HWND owner = nullptr;
    UniqueHandle cancelEvent;  // the thread's own handle to the worker's event
    std::wstring url;
    std::wstring path;
    // No server address, or no directory to put the file in: a failed
    // download, so the owner is told rather than left waiting, and nothing is
    // written relative to the current directory.
    bool runnable = false;
};
}  // namespace

std::wstring DownloadUrl(const std::wstring& baseUrl, const std::wstring& fileName)
{
    return baseUrl + L"/" + fileName;
}

DownloadWorker::~DownloadWorker()
{
    StopWithin(kStopWaitOnDestructionMs);
}

void DownloadWorker::Init(HWND owner)
{
    ownerWindow = owner;
    cancelEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    downloadDir = CreateDownloadDir();
}

void DownloadWorker::Start()
{
    Stop();
    if (cancelEvent) ResetEvent(cancelEvent.get());
    auto job = std::make_unique<DownloadJob>();
    job->owner = ownerWindow;
    job->runnable = !baseUrl.empty() && !downloadDir.empty();
    job->url = DownloadUrl(baseUrl, fileName);
    job->path = LocalPath();
    if (cancelEvent)
        DuplicateHandle(GetCurrentProcess(), cancelEvent.get(), GetCurrentProcess(), job->cancelEvent.put(), 0,
                        FALSE, DUPLICATE_SAME_ACCESS);
    thread.reset(CreateThread(nullptr, 0, DownloadThread, job.get(), 0, nullptr));
    if (thread)
        job.release();  // the thread's now
    else
        // Without a thread no completion would ever come and the owner would
        // wait for good; it hears of a failed download instead and can offer
        // a retry.
        PostMessageW(ownerWindow, WM_DOWNLOAD_DONE, 0, 0);
}

void DownloadWorker::Stop()
{
    StopWithin(INFINITE);
}

void DownloadWorker::StopWithin(DWORD timeoutMs)
{
    if (!thread) return;
    DWORD exitCode = 0;
    if (GetExitCodeThread(thread.get(), &exitCode) && exitCode == STILL_ACTIVE) {
        if (cancelEvent) SetEvent(cancelEvent.get());
        WaitForSingleObject(thread.get(), timeoutMs);
    }
    // Closing the handle leaves a thread that is still running alone; it
    // touches nothing of the worker.
    thread.reset();
}

std::wstring DownloadWorker::LocalPath() const
{
    return downloadDir + L"\\" + fileName;
}

DWORD WINAPI DownloadWorker::DownloadThread(void* argument)
{
    const std::unique_ptr<DownloadJob> job(static_cast<DownloadJob*>(argument));

    HRESULT result = E_INVALIDARG;
    unsigned long httpStatus = kNoHttpStatus;
    if (job->runnable) {
        // COM first: the callback may still hold the binding when it goes.
        const ComInitialization com;
        DownloadStatusCallback callback(job->owner, job->cancelEvent.get());
        // A copy in the Internet cache would be handed back instead of the
        // server's current file.
        DeleteUrlCacheEntryW(job->url.c_str());
        result = URLDownloadToFileW(nullptr, job->url.c_str(), job->path.c_str(), 0, &callback);
        httpStatus = callback.FinalHttpStatus();
        if (callback.GaveUpOnRedirects()) result = E_ABORT;
    }

    const bool arrived = DownloadArrived(result, httpStatus);
    // What a failed download left (an error page, a part of the file) is no
    // file of the server's: nobody may read it as the version file or start
    // it as the installer.
    if (!arrived && job->runnable) DeleteFileW(job->path.c_str());
    PostMessageW(job->owner, WM_DOWNLOAD_DONE, arrived ? 1 : 0, 0);
    if (arrived) return 0;
    return FAILED(result) ? static_cast<DWORD>(result) : static_cast<DWORD>(INET_E_DOWNLOAD_FAILURE);
}
