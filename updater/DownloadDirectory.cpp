#include "DownloadDirectory.h"

#include <cwchar>

namespace {
constexpr const wchar_t* kPrefix = L"qvl";
constexpr const wchar_t* kSuffix = L".tmp";
constexpr std::size_t kMaxHexDigits = 8;

// The system's temporary-files directory, ending in a backslash; empty when
// it names none or its path does not fit. A path that does not fit is
// reported by its needed size, not written.
std::wstring TempPath()
{
    constexpr DWORD kTempPathCapacity = MAX_PATH;
    wchar_t tempPath[kTempPathCapacity];
    const DWORD length = GetTempPathW(kTempPathCapacity, tempPath);
    if (length == 0 || length >= kTempPathCapacity) return std::wstring();
    return std::wstring(tempPath, length);
}

bool IsPlain(DWORD attributes)
{
    return !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The lock of a folder being created: held open for the run, and shared for
// reading and writing only, so that nobody deletes it meanwhile.
UniqueHandle CreateLock(const std::wstring& folder)
{
    const std::wstring path = folder + L"\\" + kDownloadFolderLock;
    return UniqueHandle(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Owns a search handle of FindFirstFileW.
class FileSearch {
public:
    FileSearch(const std::wstring& pattern, WIN32_FIND_DATAW& found)
        : handle_(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0))
    {
    }
    FileSearch(const FileSearch&) = delete;
    FileSearch& operator=(const FileSearch&) = delete;
    ~FileSearch() { if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_); }
    explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }
    bool Next(WIN32_FIND_DATAW& found) { return FindNextFileW(handle_, &found) != FALSE; }

private:
    HANDLE handle_;
};

// The entries of a folder but "." and ".."; false when it cannot be listed.
bool ListFolder(const std::wstring& folder, std::vector<FolderEntry>& entries)
{
    WIN32_FIND_DATAW found;
    FileSearch search(folder + L"\\*", found);
    if (!search) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        if (std::wcscmp(found.cFileName, L".") == 0 || std::wcscmp(found.cFileName, L"..") == 0) continue;
        entries.push_back({found.cFileName, !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                                                IsPlain(found.dwFileAttributes)});
    } while (search.Next(found));
    return GetLastError() == ERROR_NO_MORE_FILES;
}

bool IsLowerHexDigit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f');
}

// File names compare as the file system does, without regard to case.
bool SameName(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool IsOwnFile(const std::wstring& name, const std::vector<std::wstring>& ownFileNames)
{
    if (SameName(name, kDownloadFolderLock)) return true;
    for (const std::wstring& own : ownFileNames)
        if (SameName(name, own)) return true;
    return false;
}
}  // namespace

std::wstring DownloadDirCandidate(const std::wstring& tempPath, DWORD n)
{
    wchar_t number[kMaxHexDigits + 1];
    std::swprintf(number, sizeof(number) / sizeof(number[0]), L"%lx", static_cast<unsigned long>(n));
    return tempPath + kPrefix + number + kSuffix;
}

void DownloadFolder::Create(const std::wstring& tempPath, DWORD firstNumber)
{
    // Several updaters of different users may share a temporary directory, and
    // a run that was ended from outside leaves its folder behind: a taken name
    // only means trying the next number. So does a folder that another run's
    // clean-up removed between its creation and its lock (it found it empty).
    for (DWORD n = firstNumber;; ++n) {
        path_ = DownloadDirCandidate(tempPath, n);
        if (!CreateDirectoryW(path_.c_str(), nullptr)) {
            if (GetLastError() == ERROR_ALREADY_EXISTS) continue;
            return;
        }
        lock_ = CreateLock(path_);
        if (lock_ || GetLastError() != ERROR_PATH_NOT_FOUND) return;
    }
}

void DownloadFolder::Create()
{
    // Without a temporary path there is no place to download to, and a bare
    // "qvl<n>.tmp" would land in whatever the current directory is.
    const std::wstring tempPath = TempPath();
    if (tempPath.empty()) return;
    Create(tempPath, GetTickCount());
}

void DownloadFolder::Remove(const std::vector<std::wstring>& fileNames)
{
    if (path_.empty()) return;
    for (const std::wstring& name : fileNames) DeleteFileW((path_ + L"\\" + name).c_str());
    if (lock_) {
        lock_.reset();
        DeleteFileW((path_ + L"\\" + kDownloadFolderLock).c_str());
    }
    RemoveDirectoryW(path_.c_str());
}

bool IsLeftoverDownloadFolder(const std::wstring& name, bool plainDirectory, const std::vector<FolderEntry>& entries,
                              const std::vector<std::wstring>& ownFileNames)
{
    const std::size_t prefix = std::wcslen(kPrefix);
    const std::size_t suffix = std::wcslen(kSuffix);
    if (!plainDirectory || name.size() <= prefix + suffix || name.size() > prefix + kMaxHexDigits + suffix)
        return false;
    if (name.compare(0, prefix, kPrefix) != 0 || name.compare(name.size() - suffix, suffix, kSuffix) != 0) return false;
    const std::wstring number = name.substr(prefix, name.size() - prefix - suffix);
    // Lower-case hexadecimal without leading zeros, as "%x" writes it.
    for (wchar_t c : number)
        if (!IsLowerHexDigit(c)) return false;
    if (number.size() > 1 && number[0] == L'0') return false;

    for (const FolderEntry& entry : entries)
        if (!entry.plainFile || !IsOwnFile(entry.name, ownFileNames)) return false;
    return true;
}

void RemoveLeftoverDownloadFolders(const std::wstring& tempPath, const std::wstring& current,
                                   const std::vector<std::wstring>& ownFileNames)
{
    if (tempPath.empty()) return;
    struct Candidate {
        std::wstring name;
        bool plainDirectory;
    };
    std::vector<Candidate> candidates;
    {
        WIN32_FIND_DATAW found;
        FileSearch search(tempPath + kPrefix + L"*" + kSuffix, found);
        if (!search) return;
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                candidates.push_back({found.cFileName, IsPlain(found.dwFileAttributes)});
        } while (search.Next(found));
    }
    for (const Candidate& candidate : candidates) {
        const std::wstring folder = tempPath + candidate.name;
        if (SameName(folder, current)) continue;
        std::vector<FolderEntry> entries;
        if (!ListFolder(folder, entries) ||
            !IsLeftoverDownloadFolder(candidate.name, candidate.plainDirectory, entries, ownFileNames))
            continue;
        // The lock goes first: a run that still holds it keeps its folder
        // whole. A lock that is gone, or never was (an updater older than
        // the lock), leaves the folder to be judged by its contents alone.
        const std::wstring lock = folder + L"\\" + kDownloadFolderLock;
        if (!DeleteFileW(lock.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) continue;
        for (const FolderEntry& entry : entries) DeleteFileW((folder + L"\\" + entry.name).c_str());
        RemoveDirectoryW(folder.c_str());
    }
}

void RemoveLeftoverDownloadFolders(const std::wstring& current, const std::vector<std::wstring>& ownFileNames)
{
    RemoveLeftoverDownloadFolders(TempPath(), current, ownFileNames);
}
