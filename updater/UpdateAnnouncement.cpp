#include "UpdateAnnouncement.h"

std::string AnnouncementText(std::uint32_t latestVersion, const Sha256Digest& installerSha256)
{
    static const char kHex[] = "0123456789abcdef";
    std::string text(kAnnouncementContext);
    text += "\nLatestVersion=";
    text += std::to_string(latestVersion);
    text += "\nInstallerSha256=";
    for (std::uint8_t byte : installerSha256) {
        text += kHex[byte >> 4];
        text += kHex[byte & 0x0F];
    }
    text += '\n';
    return text;
}

namespace {
// The value of one base64 character, or -1.
int Base64Value(wchar_t c)
{
    if (c >= L'A' && c <= L'Z') return c - L'A';
    if (c >= L'a' && c <= L'z') return c - L'a' + 26;
    if (c >= L'0' && c <= L'9') return c - L'0' + 52;
    if (c == L'+') return 62;
    if (c == L'/') return 63;
    return -1;
}
}  // namespace

bool DecodeBase64(const std::wstring& text, std::vector<std::uint8_t>& out)
{
    out.clear();
    if (text.size() % 4 != 0) return false;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t group = 0; group < text.size(); group += 4) {
        const bool last = group + 4 == text.size();
        // "=" only at the end of the last group: "xx==" or "xxx=".
        std::size_t padding = 0;
        if (last && text[group + 3] == L'=') padding = text[group + 2] == L'=' ? 2 : 1;
        std::uint32_t bits = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            const int value = i < 4 - padding ? Base64Value(text[group + i]) : 0;
            if (value < 0) return false;
            bits = bits << 6 | static_cast<std::uint32_t>(value);
        }
        // The bits the padding leaves over must be zero: one text per value.
        if ((padding == 1 && (bits & 0xFF) != 0) || (padding == 2 && (bits & 0xFFFF) != 0)) return false;
        out.push_back(static_cast<std::uint8_t>(bits >> 16));
        if (padding < 2) out.push_back(static_cast<std::uint8_t>(bits >> 8));
        if (padding < 1) out.push_back(static_cast<std::uint8_t>(bits));
    }
    return true;
}

AnnouncementSignature ParseAnnouncementSignature(bool present, const std::wstring& text)
{
    using Kind = AnnouncementSignature::Kind;
    AnnouncementSignature signature;
    if (!present) return signature;
    if (text.empty()) signature.kind = Kind::Empty;
    else if (text.size() > kMaxSignatureBase64) signature.kind = Kind::TooLong;
    else if (!DecodeBase64(text, signature.der)) signature.kind = Kind::Malformed;
    else signature.kind = Kind::Present;
    if (signature.kind != Kind::Present) signature.der.clear();
    return signature;
}

bool MessageDigestValueMatches(const std::uint8_t* value, std::size_t size, const Sha256Digest& digest)
{
    // OCTET STRING (tag 4) of 32 bytes, short-form length: nothing else is
    // the DER of a SHA-256 digest.
    if (!value || size != 2 + digest.size() || value[0] != 0x04 || value[1] != digest.size()) return false;
    for (std::size_t i = 0; i < digest.size(); ++i)
        if (value[2 + i] != digest[i]) return false;
    return true;
}

AnnouncementVerdict JudgeAnnouncement(const FileSignature& updater, AnnouncementSignature::Kind signature,
                                      ExpectedInstallerHash::Kind hash, const SignedTextCheck& check)
{
    using Kind = AnnouncementSignature::Kind;
    using State = SignedTextCheck::State;
    if (updater.state == SignatureState::Unsigned) return AnnouncementVerdict::Genuine;
    switch (signature) {
    case Kind::Absent:
    case Kind::Empty: return AnnouncementVerdict::SignatureMissing;
    case Kind::Malformed: return AnnouncementVerdict::SignatureMalformed;
    case Kind::TooLong: return AnnouncementVerdict::SignatureTooLong;
    case Kind::Present: break;
    }
    switch (hash) {
    case ExpectedInstallerHash::Kind::Absent: return AnnouncementVerdict::HashMissing;
    case ExpectedInstallerHash::Kind::Malformed: return AnnouncementVerdict::HashMalformed;
    case ExpectedInstallerHash::Kind::Present: break;
    }
    switch (check.state) {
    case State::Verified: break;
    case State::DoesNotVerify: return AnnouncementVerdict::SignatureDoesNotVerify;
    case State::SignerNotTrusted: return AnnouncementVerdict::SignerNotTrusted;
    // Not asked although every field was well-formed counts as unreadable:
    // the rule must not pass what nobody checked.
    case State::NotChecked:
    case State::Unreadable:
    case State::NotOneSigner:
    case State::NotSha256:
    case State::NoSignerCertificate: return AnnouncementVerdict::SignatureUnreadable;
    }
    return SamePublisher(updater.signer, check.signer) ? AnnouncementVerdict::Genuine
                                                        : AnnouncementVerdict::OtherPublisher;
}

const wchar_t* DescribeAnnouncementVerdict(AnnouncementVerdict verdict)
{
    switch (verdict) {
    case AnnouncementVerdict::Genuine: return L"genuine";
    case AnnouncementVerdict::SignatureMissing: return L"the version file carries no Signature";
    case AnnouncementVerdict::SignatureMalformed: return L"Signature in the version file is not base64";
    case AnnouncementVerdict::SignatureTooLong: return L"Signature in the version file is too long";
    case AnnouncementVerdict::HashMissing: return L"the signed version file names no InstallerSha256";
    case AnnouncementVerdict::HashMalformed: return L"InstallerSha256 in the version file is malformed";
    case AnnouncementVerdict::SignatureUnreadable:
        return L"Signature is no CMS signature with one SHA-256 signer and its certificate";
    case AnnouncementVerdict::SignatureDoesNotVerify:
        return L"Signature does not verify over LatestVersion and InstallerSha256";
    case AnnouncementVerdict::SignerNotTrusted: return L"the announcement's signer is not trusted for code signing";
    case AnnouncementVerdict::OtherPublisher: return L"the announcement is signed by another publisher";
    }
    return L"";
}
