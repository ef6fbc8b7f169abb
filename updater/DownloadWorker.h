#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ComReference.h"
#include "DownloadDirectory.h"
#include "DownloadJob.h"
#include "UniqueHandle.h"

// Downloads one file at a time from baseUrl + "/" + fileName into a private
// folder on a thread of its own, and tells the owner window about it with
// WM_DOWNLOAD_PROGRESS (sent) and WM_DOWNLOAD_DONE (posted, once per Start),
// each naming the download by its generation. The owner reads the report or
// the outcome back from the worker (ReadProgress, TakeOutcome), which gives
// them only for its current download: a message of an earlier download, or
// one that another program made up, finds nothing. A download counts only
// when the file truly arrived (see DownloadArrived); after a failed one the
// file is deleted.
//
// There are no locks on the worker itself. The owner changes baseUrl and
// fileName only while no download runs, and calls every operation on its
// own thread. Stop waits for the download thread while serving the messages
// other threads send to this one, since the download thread may be waiting in
// a send to it.
//
// Each download thread works on its own job (addresses, the owner window,
// the reports), never on the worker, so the worker may go while a download
// that does not end is still running.
class DownloadWorker {
public:
    DownloadWorker() = default;
    DownloadWorker(const DownloadWorker&) = delete;
    DownloadWorker& operator=(const DownloadWorker&) = delete;
    // Cancels a running download and waits for it, but at most
    // kStopWaitOnDestructionMs: the process is about to end, and a download
    // that ignores the cancel (a connection that hangs) must not keep it alive
    // for good. Such a download ends with the process. Then every file it
    // downloaded is deleted, but one that KeepLocalFile kept, and the folder
    // with them.
    virtual ~DownloadWorker();

    // Once, before the first Start: the owner window and the download
    // folder. The owner may still be null: the reports are then held until
    // AttachOwner names it.
    void Init(HWND owner);
    // The window that hears of the downloads from now on; null when it is
    // gone. Whatever a running download has reported meanwhile, and its end
    // if it came, is announced to the new owner at once.
    void AttachOwner(HWND owner);
    // Ends any earlier download, then starts fetching fileName.
    void Start();
    // Cancels a running download at its next progress report and waits for
    // its thread without a time limit, serving sent messages meanwhile. The
    // download is no longer the current one from the start of the wait.
    void Stop();
    // Where fileName lands: downloadDir + "\" + fileName.
    std::wstring LocalPath() const;
    const std::wstring& DownloadDir() const { return folder.Path(); }

    // The latest report of the current download, when generation names it;
    // false for any other generation and before its first report.
    bool ReadProgress(WPARAM generation, DownloadProgress& report) const;
    // How the current download ended, when generation names it: once, and
    // only after it has ended. False otherwise.
    bool TakeOutcome(WPARAM generation, bool& arrived);
    // The file at LocalPath now is handed on (the installer the shell has
    // started) and stays after the run.
    void KeepLocalFile();

    std::wstring baseUrl;   // server directory, joined to fileName with "/"
    std::wstring fileName;  // the same name on the server and on disk

private:
    // The progress benchmark reports into the running download as its thread does.
    friend class UpdateDialogProbe;

    static DWORD WINAPI DownloadThread(void* job);
    // Cancels a running download and waits for its thread at most timeoutMs.
    void StopWithin(DWORD timeoutMs);
    // The current download's job when generation names it; null otherwise.
    DownloadJob* CurrentJob(WPARAM generation) const;

    HWND ownerWindow = nullptr;
    ComReference<DownloadJob> job;  // the current download; null when none is
    UniqueHandle thread;
    DownloadFolder folder;
    std::uint32_t generation = 0;
    std::vector<std::wstring> downloadedNames;  // every fileName started, once each
    std::wstring keptName;
};

// How long the worker's destruction waits for a cancelled download.
constexpr DWORD kStopWaitOnDestructionMs = 10000;

// The URL of a file on the server. The parts are joined as they stand: a
// baseUrl that ends in "/" gives "//" before the name.
std::wstring DownloadUrl(const std::wstring& baseUrl, const std::wstring& fileName);

// Waits for handle at most timeoutMs (INFINITE: without a limit), and
// meanwhile delivers the messages that other threads send to this one, so
// that a thread that waits in a send to this thread can always finish. Posted
// messages stay queued. True when the handle was signalled.
bool WaitServingSentMessages(HANDLE handle, DWORD timeoutMs);
