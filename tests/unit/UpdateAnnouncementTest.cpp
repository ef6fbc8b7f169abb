#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "AnnouncementCheck.h"
#include "ScratchDirectory.h"
#include "UpdateAnnouncement.h"

namespace {
using SignatureKind = AnnouncementSignature::Kind;
using HashKind = ExpectedInstallerHash::Kind;
using State = SignedTextCheck::State;

Sha256Digest Counting()
{
    Sha256Digest digest{};
    for (std::size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<std::uint8_t>(i * 0x11 + 0x0F);
    return digest;
}

TEST(AnnouncementText, ExactBytes)
{
    const std::string hex = "0f2031425364758697a8b9cadbecfd0e1f30415263748596a7b8c9daebfc0d1e";
    struct Case { std::uint32_t version; Sha256Digest digest; std::string text; };
    const Case cases[] = {
        {9, Counting(),
         "Quillon update announcement 1 for Orvanta/58P7M_WRZ\nLatestVersion=9\nInstallerSha256=" + hex + "\n"},
        // Decimal without leading zeros, the full unsigned range; lower-case hex.
        {4294967295u, Counting(),
         "Quillon update announcement 1 for Orvanta/58P7M_WRZ\nLatestVersion=4294967295\nInstallerSha256=" + hex +
             "\n"},
        {10, Sha256Digest{},
         "Quillon update announcement 1 for Orvanta/58P7M_WRZ\nLatestVersion=10\nInstallerSha256=" +
             std::string(64, '0') + "\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(AnnouncementText(c.version, c.digest), c.text) << c.version;
}

TEST(DecodeBase64, StandardAlphabetWithPadding)
{
    struct Case { const wchar_t* text; bool valid; std::string bytes; };
    const Case cases[] = {
        {L"", true, ""},
        {L"TWFu", true, "Man"},
        {L"TWE=", true, "Ma"},
        {L"TQ==", true, "M"},
        {L"+/+/", true, "\xfb\xff\xbf"},
        {L"AAAA", true, std::string(3, '\0')},
        {L"TWF", false, ""},         // not whole groups
        {L"TQ", false, ""},          // padding left out
        {L"TQ=", false, ""},
        {L"TQ==TWFu", false, ""},    // padding before the end
        {L"T===", false, ""},
        {L"====", false, ""},
        {L"TR==", false, ""},        // bits after the last byte not zero
        {L"TWF=", false, ""},
        {L"TW u", false, ""},        // nothing but the alphabet: no blanks,
        {L"TWF\nu", false, ""},      // no line breaks,
        {L"TW-_", false, ""},        // no URL alphabet,
        {L"TWF\u0661", false, ""},   // no digits of other scripts
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> out;
        EXPECT_EQ(DecodeBase64(c.text, out), c.valid) << static_cast<const void*>(c.text);
        if (c.valid) {
            EXPECT_EQ(std::string(out.begin(), out.end()), c.bytes);
        }
    }
}

TEST(ParseAnnouncementSignature, KindsAndTheLengthLimit)
{
    const std::wstring longest(kMaxSignatureBase64, L'A');
    struct Case { bool present; std::wstring text; SignatureKind kind; std::size_t bytes; };
    const Case cases[] = {
        {false, L"TWFu", SignatureKind::Absent, 0},
        {true, L"", SignatureKind::Empty, 0},
        {true, L"TWFu!", SignatureKind::Malformed, 0},
        {true, L"TWFu", SignatureKind::Present, 3},
        {true, longest, SignatureKind::Present, kMaxSignatureBase64 / 4 * 3},
        // What the reader gives for a longer value: one character past the limit.
        {true, longest + L"A", SignatureKind::TooLong, 0},
        {true, longest + L"AAAA", SignatureKind::TooLong, 0},
    };
    for (const Case& c : cases) {
        const AnnouncementSignature parsed = ParseAnnouncementSignature(c.present, c.text);
        EXPECT_EQ(parsed.kind, c.kind) << c.text.size();
        EXPECT_EQ(parsed.der.size(), c.bytes) << c.text.size();
    }
}

TEST(MessageDigestValueMatches, OnlyTheDerOfThisDigest)
{
    const Sha256Digest digest = Counting();
    std::vector<std::uint8_t> right = {0x04, 0x20};
    right.insert(right.end(), digest.begin(), digest.end());
    std::vector<std::uint8_t> otherDigest = right;
    otherDigest.back() ^= 1;
    std::vector<std::uint8_t> otherTag = right;
    otherTag[0] = 0x0C;
    std::vector<std::uint8_t> longForm = {0x04, 0x81, 0x20};
    longForm.insert(longForm.end(), digest.begin(), digest.end());
    std::vector<std::uint8_t> trailing = right;
    trailing.push_back(0);
    const std::vector<std::uint8_t> cut(right.begin(), right.end() - 1);
    struct Case { const char* name; const std::vector<std::uint8_t>& value; bool matches; };
    const Case cases[] = {
        {"right", right, true},          {"another digest", otherDigest, false}, {"not an OCTET STRING", otherTag, false},
        {"long-form length", longForm, false}, {"a byte more", trailing, false}, {"a byte less", cut, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MessageDigestValueMatches(c.value.data(), c.value.size(), digest), c.matches) << c.name;
    EXPECT_FALSE(MessageDigestValueMatches(nullptr, 0, digest));
}

TEST(JudgeAnnouncement, Table)
{
    const PublisherName vendor{L"Orvanta", L"Orvanta Code Signing"};
    FileSignature signedUpdater;
    signedUpdater.state = SignatureState::Valid;
    signedUpdater.signer = vendor;
    FileSignature expiredUpdater = signedUpdater;
    expiredUpdater.state = SignatureState::Invalid;
    FileSignature unreadableUpdater;  // its own file could not be judged: no signer
    FileSignature unsignedUpdater;
    unsignedUpdater.state = SignatureState::Unsigned;
    auto checked = [](State state, PublisherName signer) {
        SignedTextCheck check;
        check.state = state;
        check.signer = std::move(signer);
        return check;
    };
    const SignedTextCheck verified = checked(State::Verified, vendor);
    const SignedTextCheck notChecked;

    struct Case {
        const char* name;
        const FileSignature& updater;
        SignatureKind signature;
        HashKind hash;
        SignedTextCheck check;
        AnnouncementVerdict expected;
    };
    const Case cases[] = {
        {"genuine", signedUpdater, SignatureKind::Present, HashKind::Present, verified, AnnouncementVerdict::Genuine},
        {"renewed certificate, same names", signedUpdater, SignatureKind::Present, HashKind::Present,
         checked(State::Verified, {L"Orvanta", L"Orvanta Code Signing"}), AnnouncementVerdict::Genuine},
        // A development build ignores Signature altogether.
        {"unsigned updater, no signature", unsignedUpdater, SignatureKind::Absent, HashKind::Absent, notChecked,
         AnnouncementVerdict::Genuine},
        {"unsigned updater, garbage", unsignedUpdater, SignatureKind::Malformed, HashKind::Malformed, notChecked,
         AnnouncementVerdict::Genuine},
        // The fields, before the platform is asked.
        {"signature removed", signedUpdater, SignatureKind::Absent, HashKind::Present, notChecked,
         AnnouncementVerdict::SignatureMissing},
        {"signature empty", signedUpdater, SignatureKind::Empty, HashKind::Present, notChecked,
         AnnouncementVerdict::SignatureMissing},
        {"signature not base64", signedUpdater, SignatureKind::Malformed, HashKind::Present, notChecked,
         AnnouncementVerdict::SignatureMalformed},
        {"signature too long", signedUpdater, SignatureKind::TooLong, HashKind::Present, notChecked,
         AnnouncementVerdict::SignatureTooLong},
        {"signed but no hash", signedUpdater, SignatureKind::Present, HashKind::Absent, notChecked,
         AnnouncementVerdict::HashMissing},
        {"signed, hash malformed", signedUpdater, SignatureKind::Present, HashKind::Malformed, notChecked,
         AnnouncementVerdict::HashMalformed},
        {"both missing: the signature first", signedUpdater, SignatureKind::Absent, HashKind::Absent, notChecked,
         AnnouncementVerdict::SignatureMissing},
        // What the platform found.
        {"edited version or hash, other context", signedUpdater, SignatureKind::Present, HashKind::Present,
         checked(State::DoesNotVerify, vendor), AnnouncementVerdict::SignatureDoesNotVerify},
        {"untrusted, expired or not for code signing", signedUpdater, SignatureKind::Present, HashKind::Present,
         checked(State::SignerNotTrusted, vendor), AnnouncementVerdict::SignerNotTrusted},
        {"not signed data", signedUpdater, SignatureKind::Present, HashKind::Present, checked(State::Unreadable, {}),
         AnnouncementVerdict::SignatureUnreadable},
        {"two signers", signedUpdater, SignatureKind::Present, HashKind::Present, checked(State::NotOneSigner, {}),
         AnnouncementVerdict::SignatureUnreadable},
        {"SHA-1", signedUpdater, SignatureKind::Present, HashKind::Present, checked(State::NotSha256, {}),
         AnnouncementVerdict::SignatureUnreadable},
        {"no certificate", signedUpdater, SignatureKind::Present, HashKind::Present,
         checked(State::NoSignerCertificate, {}), AnnouncementVerdict::SignatureUnreadable},
        {"well-formed but never checked", signedUpdater, SignatureKind::Present, HashKind::Present, notChecked,
         AnnouncementVerdict::SignatureUnreadable},
        {"another publisher", signedUpdater, SignatureKind::Present, HashKind::Present,
         checked(State::Verified, {L"Other", L"Other"}), AnnouncementVerdict::OtherPublisher},
        {"same common name, other organisation", signedUpdater, SignatureKind::Present, HashKind::Present,
         checked(State::Verified, {L"Orvanta Ltd", L"Orvanta Code Signing"}), AnnouncementVerdict::OtherPublisher},
        // An updater whose own signature no longer verifies still insists.
        {"expired updater, genuine", expiredUpdater, SignatureKind::Present, HashKind::Present, verified,
         AnnouncementVerdict::Genuine},
        {"expired updater, no signature", expiredUpdater, SignatureKind::Absent, HashKind::Present, notChecked,
         AnnouncementVerdict::SignatureMissing},
        {"unreadable updater matches no one", unreadableUpdater, SignatureKind::Present, HashKind::Present, verified,
         AnnouncementVerdict::OtherPublisher},
    };
    for (const Case& c : cases)
        EXPECT_EQ(JudgeAnnouncement(c.updater, c.signature, c.hash, c.check), c.expected) << c.name;
}

class VersionFileAnnouncement : public ::testing::Test {
protected:
    Announcement Read(const std::string& contents)
    {
        const std::wstring path = scratch / L"WRZ_QVLVer.ini";
        std::ofstream(path.c_str(), std::ios::binary | std::ios::trunc) << contents;
        return ReadAnnouncement(path);
    }
    ScratchDirectory scratch;
};

TEST_F(VersionFileAnnouncement, SignatureReadWholeUpToTheLimit)
{
    const std::string hash = "InstallerSha256=" + std::string(64, 'a') + "\r\n";
    const std::string longest(kMaxSignatureBase64, 'A');
    struct Case { std::string signatureLine; SignatureKind kind; };
    const Case cases[] = {
        {"", SignatureKind::Absent},
        {"Signature=\r\n", SignatureKind::Empty},
        {"Signature=TWFu\r\n", SignatureKind::Present},
        {"Signature = TWE= \r\n", SignatureKind::Present},  // the reader drops blanks around a value
        {"Signature=TWFu TWFu\r\n", SignatureKind::Malformed},
        {"Signature=" + longest + "\r\n", SignatureKind::Present},
        {"Signature=" + longest + "AAAA\r\n", SignatureKind::TooLong},
        {"Signature=" + longest + std::string(100000, 'A') + "\r\n", SignatureKind::TooLong},
    };
    for (const Case& c : cases) {
        const Announcement read = Read("[ServerSoftVersion]\r\nLatestVersion=9\r\n" + hash + c.signatureLine);
        EXPECT_EQ(read.signature.kind, c.kind) << c.signatureLine.substr(0, 40);
        EXPECT_EQ(read.installerHash.kind, HashKind::Present);
    }
    EXPECT_EQ(Read("[ServerSoftVersion]\r\nSignature=" + longest + "\r\n").signature.der.size(),
              kMaxSignatureBase64 / 4 * 3);
}
}  // namespace
