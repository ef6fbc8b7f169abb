#include "DownloadDirectory.h"

#include <cwchar>

std::wstring DownloadDirCandidate(const std::wstring& tempPath, DWORD n)
{
    wchar_t suffix[32];
    std::swprintf(suffix, sizeof(suffix) / sizeof(suffix[0]), L"qvl%lx.tmp", static_cast<unsigned long>(n));
    return tempPath + suffix;
}

std::wstring CreateDownloadDir(const std::wstring& tempPath, DWORD firstNumber)
{
    // Several updaters of different users may share a temporary directory, and
    // earlier runs leave their directories behind: a taken name only means
    // trying the next number.
    for (DWORD n = firstNumber;; ++n) {
        std::wstring candidate = DownloadDirCandidate(tempPath, n);
        if (CreateDirectoryW(candidate.c_str(), nullptr) || GetLastError() != ERROR_ALREADY_EXISTS) return candidate;
    }
}

std::wstring CreateDownloadDir()
{
    constexpr DWORD kTempPathCapacity = MAX_PATH;
    wchar_t tempPath[kTempPathCapacity];
    const DWORD length = GetTempPathW(kTempPathCapacity, tempPath);
    // A path that does not fit is reported by its needed size, not written;
    // without a temporary path there is no place to download to, and a bare
    // "qvl<n>.tmp" would land in whatever the current directory is.
    if (length == 0 || length >= kTempPathCapacity) return std::wstring();
    return CreateDownloadDir(std::wstring(tempPath, length), GetTickCount());
}
