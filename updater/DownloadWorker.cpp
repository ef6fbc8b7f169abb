#include "DownloadWorker.h"

#include <urlmon.h>

#include "ComInitialization.h"
#include "DownloadStatusCallback.h"
#include "HttpStatus.h"

namespace {
// The size of the file at path; kNoFile when there is none.
std::int64_t FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return kNoFile;
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}
}  // namespace

std::wstring DownloadUrl(const std::wstring& baseUrl, const std::wstring& fileName)
{
    return baseUrl + L"/" + fileName;
}

bool WaitServingSentMessages(HANDLE handle, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD remaining = INFINITE;
        if (timeoutMs != INFINITE) {
            const DWORD elapsed = GetTickCount() - start;
            remaining = elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
        }
        const DWORD wait = MsgWaitForMultipleObjects(1, &handle, FALSE, remaining, QS_SENDMESSAGE);
        if (wait == WAIT_OBJECT_0) return true;
        if (wait != WAIT_OBJECT_0 + 1) return false;  // the time is up, or the wait failed
        // Delivers the pending sent messages; removes nothing from the queue.
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

DownloadWorker::~DownloadWorker()
{
    StopWithin(kStopWaitOnDestructionMs);
    // Nothing of the run stays behind but a file handed on. A download that
    // is still running writes into a folder that is gone, or leaves what it
    // was writing for a later run to remove.
    std::vector<std::wstring> names;
    for (const std::wstring& name : downloadedNames)
        if (name != keptName) names.push_back(name);
    folder.Remove(names);
}

void DownloadWorker::Init(HWND owner)
{
    ownerWindow = owner;
    folder.Create();
}

void DownloadWorker::AttachOwner(HWND owner)
{
    ownerWindow = owner;
    if (job) job->AttachOwner(owner);
}

void DownloadWorker::Start()
{
    Stop();
    // Never 0, which a forged message would most likely carry.
    if (++generation == 0) ++generation;
    job.reset(new DownloadJob(generation, DownloadUrl(baseUrl, fileName), LocalPath()));
    job->AttachOwner(ownerWindow);
    bool known = false;
    for (const std::wstring& name : downloadedNames) known = known || name == fileName;
    if (!known) downloadedNames.push_back(fileName);

    // No server address, or no folder to put the file in: a failed download,
    // so the owner is told rather than left waiting, and nothing is written
    // relative to the current directory.
    if (baseUrl.empty() || DownloadDir().empty()) {
        job->Finish(false);
        return;
    }
    job->AddRef();  // the thread's reference
    thread.reset(CreateThread(nullptr, 0, DownloadThread, job.get(), 0, nullptr));
    if (!thread) {
        job->Release();
        // Without a thread no completion would ever come and the owner would
        // wait for good; it hears of a failed download instead and can offer
        // a retry.
        job->Finish(false);
    }
}

void DownloadWorker::Stop()
{
    StopWithin(INFINITE);
}

void DownloadWorker::StopWithin(DWORD timeoutMs)
{
    // Whatever the download or anyone else reports while this waits no
    // longer names the current download.
    const ComReference<DownloadJob> stopping(std::move(job));
    if (!thread) return;
    DWORD exitCode = 0;
    if (GetExitCodeThread(thread.get(), &exitCode) && exitCode == STILL_ACTIVE) {
        if (stopping) stopping->RequestCancel();
        WaitServingSentMessages(thread.get(), timeoutMs);
    }
    // Closing the handle leaves a thread that is still running alone; it
    // touches nothing of the worker.
    thread.reset();
}

std::wstring DownloadWorker::LocalPath() const
{
    return DownloadDir() + L"\\" + fileName;
}

DownloadJob* DownloadWorker::CurrentJob(WPARAM generationInMessage) const
{
    return job && generationInMessage == static_cast<WPARAM>(job->Generation()) ? job.get() : nullptr;
}

bool DownloadWorker::ReadProgress(WPARAM generationInMessage, DownloadProgress& report) const
{
    const DownloadJob* current = CurrentJob(generationInMessage);
    return current && current->LatestReport(report);
}

bool DownloadWorker::TakeOutcome(WPARAM generationInMessage, bool& arrived)
{
    DownloadJob* current = CurrentJob(generationInMessage);
    return current && current->TakeOutcome(arrived);
}

void DownloadWorker::KeepLocalFile()
{
    keptName = fileName;
}

DWORD WINAPI DownloadWorker::DownloadThread(void* argument)
{
    const ComReference<DownloadJob> job(static_cast<DownloadJob*>(argument));  // the thread's reference

    HRESULT result = E_ABORT;
    HttpAnswer answer;
    {
        // COM first: the callback may still hold the binding when it goes.
        const ComInitialization com;
        DownloadStatusCallback callback(*job.get());
        result = URLDownloadToFileW(nullptr, job->Url().c_str(), job->Path().c_str(), 0, &callback);
        answer = callback.FinalHttpAnswer();
        if (callback.GaveUpOnRedirects()) result = E_ABORT;
    }

    const bool arrived = DownloadArrived(result, answer, FileSize(job->Path()));
    // What a failed download left (an error page, a part of the file) is no
    // file of the server's: nobody may read it as the version file or start
    // it as the installer.
    if (!arrived) DeleteFileW(job->Path().c_str());
    job->Finish(arrived);
    if (arrived) return 0;
    return FAILED(result) ? static_cast<DWORD>(result) : static_cast<DWORD>(INET_E_DOWNLOAD_FAILURE);
}
