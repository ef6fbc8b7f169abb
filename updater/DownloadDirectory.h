#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "UniqueHandle.h"

// Name of the private download directory for number n under tempPath, which
// ends in a backslash as GetTempPathW gives it: "<tempPath>qvl<n in hex>.tmp".
std::wstring DownloadDirCandidate(const std::wstring& tempPath, DWORD n);

// The file in each download folder that its run holds open, without sharing
// it for deletion, for as long as the run lasts: it tells other runs (of
// other logon sessions of the same user, which share the temporary folder)
// that the folder is in use.
constexpr const wchar_t* kDownloadFolderLock = L"qvl.lock";

// The private folder of one run, under the temporary-files directory, and
// the lock inside it.
class DownloadFolder {
public:
    DownloadFolder() = default;
    DownloadFolder(const DownloadFolder&) = delete;
    DownloadFolder& operator=(const DownloadFolder&) = delete;

    // Creates the first free "qvl<n>.tmp" under tempPath, counting up from
    // firstNumber past every name already taken (the count wraps around
    // after 0xffffffff), and its lock. Any other failure ends the walk: Path
    // then names the candidate of that attempt although nothing exists
    // there, and downloads into it fail.
    void Create(const std::wstring& tempPath, DWORD firstNumber);
    // The same under the system's temporary-files directory, starting from
    // the tick count. Path stays empty when the system names no usable
    // temporary directory.
    void Create();

    // Without a trailing backslash; empty before Create.
    const std::wstring& Path() const { return path_; }

    // Deletes the named files, the lock and the folder. A file that is still
    // open elsewhere, or that a caller keeps, stays, and the folder with it.
    void Remove(const std::vector<std::wstring>& fileNames);

private:
    std::wstring path_;
    UniqueHandle lock_;
};

// One entry of a folder, as a listing shows it.
struct FolderEntry {
    std::wstring name;
    bool plainFile;  // a file, neither a directory nor a link of any kind
};

// Whether a folder in the temporary-files directory may be removed as a
// download folder of an earlier run: its name is one that DownloadDirCandidate
// makes, it is a plain directory (no link to somewhere else), and it holds
// nothing but plain files named in ownFileNames and the lock. Anything else
// there belongs to someone else, and the folder is left alone.
bool IsLeftoverDownloadFolder(const std::wstring& name, bool plainDirectory, const std::vector<FolderEntry>& entries,
                              const std::vector<std::wstring>& ownFileNames);

// Removes every leftover download folder under tempPath except current (this
// run's own) whose lock no running updater holds: a folder whose lock cannot
// be deleted is in use. A file that cannot be deleted (an installer that
// still runs) keeps its folder until a later run.
void RemoveLeftoverDownloadFolders(const std::wstring& tempPath, const std::wstring& current,
                                   const std::vector<std::wstring>& ownFileNames);

// The same under the system's temporary-files directory.
void RemoveLeftoverDownloadFolders(const std::wstring& current, const std::vector<std::wstring>& ownFileNames);
