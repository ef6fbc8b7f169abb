#pragma once
#include <windows.h>
#include <string>

#include "UniqueHandle.h"

// Downloads one file at a time from baseUrl + "/" + fileName into a private
// directory on a thread of its own, and tells the owner window about it with
// WM_DOWNLOAD_PROGRESS (sent) and WM_DOWNLOAD_DONE (posted, once per Start).
//
// There are no locks. The owner changes baseUrl and fileName only while no
// download runs, and calls Start and Stop on its own thread only when no
// progress report can be waiting for that thread (before the first download,
// on WM_DOWNLOAD_DONE, or after its window is gone): Stop waits for the
// thread, which may itself be waiting in a send to the owner.
class DownloadWorker {
public:
    DownloadWorker() = default;
    DownloadWorker(const DownloadWorker&) = delete;
    DownloadWorker& operator=(const DownloadWorker&) = delete;
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
    static DWORD WINAPI DownloadThread(void* worker);

    HWND ownerWindow = nullptr;
    UniqueHandle cancelEvent;
    UniqueHandle thread;
    std::wstring downloadDir;
};

// The URL of a file on the server. The parts are joined as they stand: a
// baseUrl that ends in "/" gives "//" before the name.
std::wstring DownloadUrl(const std::wstring& baseUrl, const std::wstring& fileName);
