#pragma once
#include <windows.h>
#include <string>

#include "UniqueHandle.h"

// Downloads one file at a time from baseUrl + "/" + fileName into a private
// directory on a thread of its own, and tells the owner window about it with
// WM_DOWNLOAD_PROGRESS (sent) and WM_DOWNLOAD_DONE (posted, once per Start).
// A download counts only when the moniker succeeded and the server's final
// HTTP status was 2xx; after a failed one the file is deleted.
//
// There are no locks. The owner changes baseUrl and fileName only while no
// download runs, and calls Start and Stop on its own thread only when no
// progress report can be waiting for that thread (before the first download,
// on WM_DOWNLOAD_DONE, or after its window is gone): Stop waits for the
// thread, which may itself be waiting in a send to the owner.
//
// Each download thread works on its own copy of what it needs (addresses,
// owner window, its own handle to the cancel event), never on the worker, so
// the worker may go while a download that does not end is still running.
class DownloadWorker {
public:
    DownloadWorker() = default;
    DownloadWorker(const DownloadWorker&) = delete;
    DownloadWorker& operator=(const DownloadWorker&) = delete;
    // Cancels a running download and waits for it, but at most
    // kStopWaitOnDestructionMs: the process is about to end, and a download
    // that ignores the cancel (a connection that hangs) must not keep it alive
    // for good. Such a download ends with the process.
    virtual ~DownloadWorker();

    // Once, before the first Start: the owner window, the cancel event and the
    // download directory.
    void Init(HWND owner);
    // Ends any earlier download, then starts fetching fileName.
    void Start();
    // Cancels a running download at its next progress report and waits for
    // its thread without a time limit.
    void Stop();
    // Where fileName lands: downloadDir + "\" + fileName.
    std::wstring LocalPath() const;
    const std::wstring& DownloadDir() const { return downloadDir; }

    std::wstring baseUrl;   // server directory, joined to fileName with "/"
    std::wstring fileName;  // the same name on the server and on disk

private:
    static DWORD WINAPI DownloadThread(void* job);
    // Cancels a running download and waits for its thread at most timeoutMs.
    void StopWithin(DWORD timeoutMs);

    HWND ownerWindow = nullptr;
    UniqueHandle cancelEvent;
    UniqueHandle thread;
    std::wstring downloadDir;
};

// How long the worker's destruction waits for a cancelled download.
constexpr DWORD kStopWaitOnDestructionMs = 10000;

// The URL of a file on the server. The parts are joined as they stand: a
// baseUrl that ends in "/" gives "//" before the name.
std::wstring DownloadUrl(const std::wstring& baseUrl, const std::wstring& fileName);
