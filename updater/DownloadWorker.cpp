#include "DownloadWorker.h"

#include <urlmon.h>
#include <wininet.h>

#include <memory>

#include "ComInitialization.h"
#include "DownloadDirectory.h"
#include "DownloadMessages.h"
#include "DownloadStatusCallback.h"

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
    if (job->runnable) {
        DownloadStatusCallback callback(job->owner, job->cancelEvent.get());
        const ComInitialization com;
        // A copy in the Internet cache would be handed back instead of the
        // server's current file.
        DeleteUrlCacheEntryW(job->url.c_str());
        result = URLDownloadToFileW(nullptr, job->url.c_str(), job->path.c_str(), 0, &callback);
    }

    PostMessageW(job->owner, WM_DOWNLOAD_DONE, SUCCEEDED(result) ? 1 : 0, 0);
    return SUCCEEDED(result) ? 0 : static_cast<DWORD>(result);
}
