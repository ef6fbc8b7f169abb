#include "AnnouncementCheck.h"

#include <windows.h>

#include <vector>

#include "InstallerCheck.h"
#include "SignedTextVerification.h"

namespace {
constexpr const wchar_t* kVersionSection = L"ServerSoftVersion";

// One value of the version file's section, read into room for capacity - 1
// characters; false when the key is absent. A missing key yields the
// default, so two different defaults tell a missing key from one that is
// present, even with an empty value.
bool ReadVersionFileValue(const std::wstring& path, const wchar_t* key, DWORD capacity, std::wstring& value)
{
    std::vector<wchar_t> first(capacity);
    std::vector<wchar_t> second(capacity);
    const DWORD length =
        GetPrivateProfileStringW(kVersionSection, key, L"0", first.data(), capacity, path.c_str());
    GetPrivateProfileStringW(kVersionSection, key, L"1", second.data(), capacity, path.c_str());
    value.assign(first.data(), length);
    return lstrcmpW(first.data(), second.data()) == 0;
}
}  // namespace

ExpectedInstallerHash ReadExpectedInstallerHash(const std::wstring& versionFilePath)
{
    // Room for one unit more than a well-formed value, so that a longer one
    // reads as too long instead of being cut to a well-formed prefix.
    std::wstring text;
    const bool present = ReadVersionFileValue(versionFilePath, L"InstallerSha256", 66, text);
    return ParseInstallerSha256(present, text);
}

Announcement ReadAnnouncement(const std::wstring& versionFilePath)
{
    Announcement announcement;
    announcement.installerHash = ReadExpectedInstallerHash(versionFilePath);
    // Likewise one unit more than the longest value taken.
    std::wstring text;
    const bool present =
        ReadVersionFileValue(versionFilePath, L"Signature", static_cast<DWORD>(kMaxSignatureBase64 + 2), text);
    announcement.signature = ParseAnnouncementSignature(present, text);
    return announcement;
}

AnnouncementVerdict CheckAnnouncement(std::uint32_t latestVersion, const Announcement& announcement,
                                      const FileSignature& updater)
{
    SignedTextCheck check;
    if (updater.state != SignatureState::Unsigned &&
        announcement.signature.kind == AnnouncementSignature::Kind::Present &&
        announcement.installerHash.kind == ExpectedInstallerHash::Kind::Present)
        check = VerifySignedText(announcement.signature.der,
                                 AnnouncementText(latestVersion, announcement.installerHash.digest));
    const AnnouncementVerdict verdict =
        JudgeAnnouncement(updater, announcement.signature.kind, announcement.installerHash.kind, check);
    if (verdict != AnnouncementVerdict::Genuine) {
        // The platform's answer and the chain's error bits, where it was asked.
        wchar_t answers[64] = L"";
        if (check.state != SignedTextCheck::State::NotChecked)
            wsprintfW(answers, L"platform 0x%08lX, chain 0x%08lX", static_cast<unsigned long>(check.platformResult),
                      static_cast<unsigned long>(check.chainStatus));
        TraceRefusal(L"update announcement", DescribeAnnouncementVerdict(verdict), answers);
    }
    return verdict;
}
