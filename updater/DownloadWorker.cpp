#include "DownloadWorker.h"

#include <urlmon.h>
#include <wininet.h>

#include "ComInitialization.h"
#include "DownloadDirectory.h"
#include "DownloadMessages.h"
#include "DownloadStatusCallback.h"

std::wstring DownloadUrl(const std::wstring& baseUrl, const std::wstring& fileName)
{
    return baseUrl + L"/" + fileName;
}

DownloadWorker::~DownloadWorker()
{
    Stop();
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
    thread.reset(CreateThread(nullptr, 0, DownloadThread, this, 0, nullptr));
    // Without a thread no completion would ever come and the owner would wait
    // for good; it hears of a failed download instead and can offer a retry.
    if (!thread) PostMessageW(ownerWindow, WM_DOWNLOAD_DONE, 0, 0);
}

void DownloadWorker::Stop()
{
    if (!thread) return;
    DWORD exitCode = 0;
    if (GetExitCodeThread(thread.get(), &exitCode) && exitCode == STILL_ACTIVE) {
        if (cancelEvent) SetEvent(cancelEvent.get());
        WaitForSingleObject(thread.get(), INFINITE);
    }
    thread.reset();
}

std::wstring DownloadWorker::LocalPath() const
{
    return downloadDir + L"\\" + fileName;
}

DWORD WINAPI DownloadWorker::DownloadThread(void* argument)
{
    // Everything the thread needs is read here, once; the owner leaves the
    // worker's fields alone until the completion below has been posted.
    const DownloadWorker& worker = *static_cast<const DownloadWorker*>(argument);
    const HWND owner = worker.ownerWindow;

    HRESULT result = E_INVALIDARG;
    // No server address, or no directory to put the file in: a failed
    // download, so the owner is told rather than left waiting, and nothing is
    // written relative to the current directory.
    if (!worker.baseUrl.empty() && !worker.downloadDir.empty()) {
        DownloadStatusCallback callback(owner, worker.cancelEvent.get());
        const std::wstring url = DownloadUrl(worker.baseUrl, worker.fileName);
        const std::wstring path = worker.LocalPath();
        const ComInitialization com;
        // A copy in the Internet cache would be handed back instead of the
        // server's current file.
        DeleteUrlCacheEntryW(url.c_str());
        result = URLDownloadToFileW(nullptr, url.c_str(), path.c_str(), 0, &callback);
    }

    PostMessageW(owner, WM_DOWNLOAD_DONE, SUCCEEDED(result) ? 1 : 0, 0);
    return SUCCEEDED(result) ? 0 : static_cast<DWORD>(result);
}
