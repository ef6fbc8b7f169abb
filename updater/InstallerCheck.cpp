#include "InstallerCheck.h"

#include <windows.h>

#include <vector>

#include "AuthenticodeSignature.h"
#include "FileSha256.h"

namespace {
constexpr const wchar_t* kVersionSection = L"ServerSoftVersion";
constexpr const wchar_t* kHashKey = L"InstallerSha256";

// The running program's own path, however long. Empty when it cannot be read;
// the signature read on an empty path then fails, and the rule stays on.
std::wstring ProgramPath()
{
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return std::wstring();
        if (length < path.size()) return std::wstring(path.data(), length);
        if (path.size() >= 32768) return std::wstring();
        path.resize(path.size() * 2);
    }
}

void TraceRefusal(InstallerVerdict verdict, long trustResult)
{
    wchar_t line[160];
    wsprintfW(line, L"Quillon: installer refused: %s (0x%08lX)\n", DescribeVerdict(verdict),
              static_cast<unsigned long>(trustResult));
    OutputDebugStringW(line);
}
}  // namespace

ExpectedInstallerHash ReadExpectedInstallerHash(const std::wstring& versionFilePath)
{
    // Room for one unit more than a well-formed value, so that a longer one
    // reads as too long instead of being cut to a well-formed prefix.
    constexpr DWORD kCapacity = 66;
    wchar_t first[kCapacity];
    wchar_t second[kCapacity];
    // A missing key yields the default; two different defaults tell a missing
    // key from one that is present, even with an empty value.
    GetPrivateProfileStringW(kVersionSection, kHashKey, L"0", first, kCapacity, versionFilePath.c_str());
    GetPrivateProfileStringW(kVersionSection, kHashKey, L"1", second, kCapacity, versionFilePath.c_str());
    const bool present = lstrcmpW(first, second) == 0;
    return ParseInstallerSha256(present, first);
}

InstallerVerdict CheckInstaller(const std::wstring& installerPath, const ExpectedInstallerHash& expected)
{
    const FileSignature updater = ReadFileSignature(ProgramPath());
    if (updater.state != SignatureState::Unsigned) {
        const FileSignature installer = ReadFileSignature(installerPath);
        const InstallerVerdict verdict = JudgeSignatures(updater, installer);
        if (verdict != InstallerVerdict::Genuine) {
            TraceRefusal(verdict, installer.trustResult);
            return verdict;
        }
    }
    Sha256Digest actual{};
    const bool hashed =
        expected.kind == ExpectedInstallerHash::Kind::Present && HashFileSha256(installerPath, actual);
    const InstallerVerdict verdict = JudgeHash(expected, hashed, actual);
    if (verdict != InstallerVerdict::Genuine) TraceRefusal(verdict, 0);
    return verdict;
}
