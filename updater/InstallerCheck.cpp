#include "InstallerCheck.h"

#include <windows.h>

#include <vector>

#include "AuthenticodeSignature.h"
#include "PeImage.h"
#include "Sha256.h"
#include "UniqueHandle.h"

namespace {
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

// The file's first kPeImageProbeBytes (fewer when it is shorter) and its
// size; nothing when it cannot be read. Opened for reading only, beside the
// caller's hold.
std::vector<std::uint8_t> ReadFileStart(const std::wstring& path, std::uint64_t& fileSize)
{
    std::vector<std::uint8_t> bytes;
    fileSize = 0;
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size)) return bytes;
    fileSize = static_cast<std::uint64_t>(size.QuadPart);
    bytes.resize(kPeImageProbeBytes);
    DWORD total = 0;
    while (total < bytes.size()) {
        DWORD read = 0;
        if (!ReadFile(file.get(), bytes.data() + total, static_cast<DWORD>(bytes.size() - total), &read, nullptr) ||
            read == 0)
            break;
        total += read;
    }
    bytes.resize(total);
    return bytes;
}

}  // namespace

FileSignature ReadUpdaterSignature()
{
    return ReadFileSignature(ProgramPath());
}

void TraceRefusal(const wchar_t* what, const wchar_t* reason, const wchar_t* detail)
{
    wchar_t line[320];
    wsprintfW(line, L"Quillon: %s refused: %s%s%s\n", what, reason, *detail ? L": " : L"", detail);
    OutputDebugStringW(line);
}

InstallerVerdict CheckInstaller(const std::wstring& installerPath, const ExpectedInstallerHash& expected,
                                const FileSignature& updater)
{
    // Whatever else holds, only a program is handed to the shell: a page
    // served with 200 (a captive portal, a CDN's error page) would otherwise
    // reach the shell whenever no signature or hash rule applies.
    std::uint64_t fileSize = 0;
    const std::vector<std::uint8_t> start = ReadFileStart(installerPath, fileSize);
    const ProgramImage image = JudgeProgramImage(start.data(), start.size(), fileSize);
    if (image != ProgramImage::Program) {
        TraceRefusal(L"installer", DescribeVerdict(InstallerVerdict::NotAProgram), DescribeProgramImage(image));
        return InstallerVerdict::NotAProgram;
    }
    if (updater.state != SignatureState::Unsigned) {
        const FileSignature installer = ReadFileSignature(installerPath);
        const InstallerVerdict verdict = JudgeSignatures(updater, installer);
        if (verdict != InstallerVerdict::Genuine) {
            // The platform's answers and the last errors beside them.
            wchar_t answers[96];
            wsprintfW(answers, L"installer 0x%08lX/0x%08lX, updater 0x%08lX/0x%08lX",
                      static_cast<unsigned long>(installer.trustResult),
                      static_cast<unsigned long>(installer.trustReason),
                      static_cast<unsigned long>(updater.trustResult),
                      static_cast<unsigned long>(updater.trustReason));
            TraceRefusal(L"installer", DescribeVerdict(verdict), answers);
            return verdict;
        }
    }
    Sha256Digest actual{};
    const bool hashed =
        expected.kind == ExpectedInstallerHash::Kind::Present && HashFileSha256(installerPath, actual);
    const InstallerVerdict verdict = JudgeHash(expected, hashed, actual);
    if (verdict != InstallerVerdict::Genuine) TraceRefusal(L"installer", DescribeVerdict(verdict), L"");
    return verdict;
}
