// signature_probe.exe FILE...
// For each file, one line with what the updater's own readers make of it:
//   state=<unsigned|invalid|valid>\tresult=<hex>\tO=<org>\tCN=<name>\tsha256=<hex or ->
// signature_probe.exe --announcement VERSIONFILE...
// For each version file, what the updater's readers and the platform make of
// its announcement: the Signature field, and the check of the signature over
// the text of the LatestVersion and InstallerSha256 read:
//   signature=<absent|empty|malformed|toolong|present>\tcheck=<state>\tresult=<hex>\tchain=<hex>\tO=<org>\tCN=<name>
// so that tests can compare the platform's verdict on real signatures with
// what they expect.
#include <windows.h>

#include <cstdio>

#include "AnnouncementCheck.h"
#include "AuthenticodeSignature.h"
#include "Sha256.h"
#include "SignedTextVerification.h"

namespace {
const char* StateName(SignatureState state)
{
    switch (state) {
    case SignatureState::Unsigned: return "unsigned";
    case SignatureState::Invalid: return "invalid";
    case SignatureState::Valid: return "valid";
    }
    return "?";
}

const char* KindName(AnnouncementSignature::Kind kind)
{
    switch (kind) {
    case AnnouncementSignature::Kind::Absent: return "absent";
    case AnnouncementSignature::Kind::Empty: return "empty";
    case AnnouncementSignature::Kind::Malformed: return "malformed";
    case AnnouncementSignature::Kind::TooLong: return "toolong";
    case AnnouncementSignature::Kind::Present: return "present";
    }
    return "?";
}

const char* CheckName(SignedTextCheck::State state)
{
    switch (state) {
    case SignedTextCheck::State::NotChecked: return "notchecked";
    case SignedTextCheck::State::Unreadable: return "unreadable";
    case SignedTextCheck::State::NotOneSigner: return "notonesigner";
    case SignedTextCheck::State::NotSha256: return "notsha256";
    case SignedTextCheck::State::NoSignerCertificate: return "nosignercertificate";
    case SignedTextCheck::State::DoesNotVerify: return "doesnotverify";
    case SignedTextCheck::State::SignerNotTrusted: return "signernottrusted";
    case SignedTextCheck::State::Verified: return "verified";
    }
    return "?";
}

void ProbeAnnouncement(const wchar_t* path)
{
    const std::uint32_t latest = GetPrivateProfileIntW(L"ServerSoftVersion", L"LatestVersion", 0, path);
    const Announcement announcement = ReadAnnouncement(path);
    SignedTextCheck check;
    if (announcement.signature.kind == AnnouncementSignature::Kind::Present &&
        announcement.installerHash.kind == ExpectedInstallerHash::Kind::Present)
        check = VerifySignedText(announcement.signature.der,
                                 AnnouncementText(latest, announcement.installerHash.digest));
    std::printf("signature=%s\tcheck=%s\tresult=%08lx\tchain=%08lx\tO=%ls\tCN=%ls\n",
                KindName(announcement.signature.kind), CheckName(check.state),
                static_cast<unsigned long>(check.platformResult), static_cast<unsigned long>(check.chainStatus),
                check.signer.organization.c_str(), check.signer.commonName.c_str());
}

void ProbeFile(const wchar_t* path)
{
    const FileSignature signature = ReadFileSignature(path);
    std::printf("state=%s\tresult=%08lx\tO=%ls\tCN=%ls\tsha256=", StateName(signature.state),
                static_cast<unsigned long>(signature.trustResult), signature.signer.organization.c_str(),
                signature.signer.commonName.c_str());
    Sha256Digest digest{};
    if (HashFileSha256(path, digest))
        for (auto byte : digest) std::printf("%02x", byte);
    else
        std::printf("-");
    std::printf("\n");
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const bool announcements = argc > 1 && lstrcmpW(argv[1], L"--announcement") == 0;
    for (int i = announcements ? 2 : 1; i < argc; ++i) {
        if (announcements) ProbeAnnouncement(argv[i]);
        else ProbeFile(argv[i]);
        std::fflush(stdout);
    }
    return 0;
}
