#pragma once
#include <windows.h>
#include <string>

// Name of the private download directory for number n under tempPath, which
// ends in a backslash as GetTempPathW gives it: "<tempPath>qvl<n in hex>.tmp".
std::wstring DownloadDirCandidate(const std::wstring& tempPath, DWORD n);

// Creates the first free "qvl<n>.tmp" under tempPath, counting up from
// firstNumber past every name already taken (the count wraps around after
// 0xffffffff). Any other failure ends the walk: the candidate of that attempt
// is returned although nothing exists there, and downloads into it fail.
std::wstring CreateDownloadDir(const std::wstring& tempPath, DWORD firstNumber);

// The same under the system's temporary-files directory, starting from the
// tick count. Empty when the system names no usable temporary directory.
std::wstring CreateDownloadDir();
