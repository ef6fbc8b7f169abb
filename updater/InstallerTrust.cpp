#include "InstallerTrust.h"

#include "HexDigit.h"

SignatureState SignatureStateFromTrustResult(long trustResult, long lastError)
{
    // TRUST_E_NOSIGNATURE, TRUST_E_SUBJECT_FORM_UNKNOWN and
    // TRUST_E_PROVIDER_UNKNOWN, spelled out so that this file needs no
    // platform header.
    constexpr long kNoSignature = static_cast<long>(0x800B0100L);
    constexpr long kSubjectFormUnknown = static_cast<long>(0x800B0003L);
    constexpr long kProviderUnknown = static_cast<long>(0x800B0001L);
    if (trustResult == 0) return SignatureState::Valid;
    if (trustResult == kNoSignature &&
        (lastError == kNoSignature || lastError == kSubjectFormUnknown || lastError == kProviderUnknown))
        return SignatureState::Unsigned;
    return SignatureState::Invalid;
}

bool SamePublisher(const PublisherName& a, const PublisherName& b)
{
    return !a.commonName.empty() && a.commonName == b.commonName && a.organization == b.organization;
}

InstallerVerdict JudgeSignatures(const FileSignature& updater, const FileSignature& installer)
{
    if (updater.state == SignatureState::Unsigned) return InstallerVerdict::Genuine;
    if (installer.state == SignatureState::Unsigned) return InstallerVerdict::InstallerUnsigned;
    if (installer.state == SignatureState::Invalid) return InstallerVerdict::InstallerSignatureInvalid;
    return SamePublisher(updater.signer, installer.signer) ? InstallerVerdict::Genuine
                                                            : InstallerVerdict::OtherPublisher;
}

ExpectedInstallerHash ParseInstallerSha256(bool present, const std::wstring& text)
{
    ExpectedInstallerHash expected;
    if (!present) return expected;
    expected.kind = ExpectedInstallerHash::Kind::Malformed;
    if (text.size() != expected.digest.size() * 2) return expected;
    for (std::size_t i = 0; i < expected.digest.size(); ++i) {
        const int high = HexDigitValue(text[2 * i]);
        const int low = HexDigitValue(text[2 * i + 1]);
        if (high < 0 || low < 0) return expected;
        expected.digest[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    expected.kind = ExpectedInstallerHash::Kind::Present;
    return expected;
}

InstallerVerdict JudgeHash(const ExpectedInstallerHash& expected, bool hashed, const Sha256Digest& actual)
{
    switch (expected.kind) {
    case ExpectedInstallerHash::Kind::Absent:
        return InstallerVerdict::Genuine;
    case ExpectedInstallerHash::Kind::Malformed:
        return InstallerVerdict::HashMalformed;
    case ExpectedInstallerHash::Kind::Present:
        break;
    }
    if (!hashed) return InstallerVerdict::HashUnreadable;
    return actual == expected.digest ? InstallerVerdict::Genuine : InstallerVerdict::HashMismatch;
}

const wchar_t* DescribeVerdict(InstallerVerdict verdict)
{
    switch (verdict) {
    case InstallerVerdict::Genuine: return L"genuine";
    case InstallerVerdict::NotAProgram: return L"the installer is not a Windows program";
    case InstallerVerdict::InstallerUnsigned: return L"the installer is not signed";
    case InstallerVerdict::InstallerSignatureInvalid: return L"the installer's signature does not verify";
    case InstallerVerdict::OtherPublisher: return L"the installer is signed by another publisher";
    case InstallerVerdict::HashMalformed: return L"InstallerSha256 in the version file is malformed";
    case InstallerVerdict::HashUnreadable: return L"the installer could not be hashed";
    case InstallerVerdict::HashMismatch: return L"the installer does not match InstallerSha256";
    }
    return L"";
}
