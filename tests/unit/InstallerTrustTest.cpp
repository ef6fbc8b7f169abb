#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <string>

#include "AnnouncementCheck.h"
#include "InstallerTrust.h"
#include "ScratchDirectory.h"
#include "Sha256.h"

namespace {
using Kind = ExpectedInstallerHash::Kind;

const PublisherName kVendor{L"Orvanta", L"Orvanta Code Signing"};

FileSignature Signature(SignatureState state, PublisherName signer = kVendor)
{
    FileSignature signature;
    signature.state = state;
    signature.signer = std::move(signer);
    return signature;
}

Sha256Digest DigestFromHex(const char* hex)
{
    Sha256Digest digest{};
    for (std::size_t i = 0; i < digest.size(); ++i)
        digest[i] = static_cast<std::uint8_t>(std::stoi(std::string(hex + 2 * i, 2), nullptr, 16));
    return digest;
}

// SHA-256("abc")
constexpr const char* kAbc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

// Fails closed: a file counts as unsigned only when the platform says there
// is no signature and the reason it gives is one of the three that mean so.
// TRUST_E_NOSIGNATURE with any other reason is a file it could not judge.
TEST(SignatureStateFromTrustResult, OnlyAnUnsignedReasonCountsAsUnsigned)
{
    const long sharingViolation = static_cast<long>(HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION));
    struct Case { const char* name; long result; long lastError; SignatureState expected; };
    const Case cases[] = {
        {"valid", ERROR_SUCCESS, ERROR_SUCCESS, SignatureState::Valid},
        {"no signature", TRUST_E_NOSIGNATURE, TRUST_E_NOSIGNATURE, SignatureState::Unsigned},
        {"a form that carries none", TRUST_E_NOSIGNATURE, TRUST_E_SUBJECT_FORM_UNKNOWN, SignatureState::Unsigned},
        {"no provider for the form", TRUST_E_NOSIGNATURE, TRUST_E_PROVIDER_UNKNOWN, SignatureState::Unsigned},
        // The same answer for a file that could not be read.
        {"held open without sharing", TRUST_E_NOSIGNATURE, sharingViolation, SignatureState::Invalid},
        {"held open, plain Win32 reason", TRUST_E_NOSIGNATURE, ERROR_SHARING_VIOLATION, SignatureState::Invalid},
        {"access denied", TRUST_E_NOSIGNATURE, static_cast<long>(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)),
         SignatureState::Invalid},
        {"no reason given", TRUST_E_NOSIGNATURE, ERROR_SUCCESS, SignatureState::Invalid},
        {"a bad signature format", TRUST_E_NOSIGNATURE, TRUST_E_BAD_DIGEST, SignatureState::Invalid},
        // Verdicts on a signature that is there, and other failures.
        {"tampered", TRUST_E_BAD_DIGEST, TRUST_E_BAD_DIGEST, SignatureState::Invalid},
        {"expired", CERT_E_EXPIRED, CERT_E_EXPIRED, SignatureState::Invalid},
        {"untrusted root", CERT_E_UNTRUSTEDROOT, CERT_E_UNTRUSTEDROOT, SignatureState::Invalid},
        {"revoked", CERT_E_REVOKED, CERT_E_REVOKED, SignatureState::Invalid},
        {"distrusted", TRUST_E_EXPLICIT_DISTRUST, TRUST_E_EXPLICIT_DISTRUST, SignatureState::Invalid},
        {"not for code signing", CERT_E_WRONG_USAGE, CERT_E_WRONG_USAGE, SignatureState::Invalid},
        {"form unknown as the answer itself", TRUST_E_SUBJECT_FORM_UNKNOWN, TRUST_E_SUBJECT_FORM_UNKNOWN,
         SignatureState::Invalid},
        {"provider unknown as the answer itself", TRUST_E_PROVIDER_UNKNOWN, TRUST_E_PROVIDER_UNKNOWN,
         SignatureState::Invalid},
        // What Wine answers for a file held open elsewhere, and a missing one.
        {"sharing violation as the answer", ERROR_SHARING_VIOLATION, ERROR_SHARING_VIOLATION, SignatureState::Invalid},
        {"missing file", static_cast<long>(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)), ERROR_FILE_NOT_FOUND,
         SignatureState::Invalid},
    };
    for (const Case& c : cases) EXPECT_EQ(SignatureStateFromTrustResult(c.result, c.lastError), c.expected) << c.name;
}

TEST(SamePublisher, OrganisationAndCommonNameMustBothMatch)
{
    struct Case { PublisherName other; bool same; };
    const Case cases[] = {
        {{L"Orvanta", L"Orvanta Code Signing"}, true},
        {{L"Orvanta", L"orvanta code signing"}, false},   // character for character
        {{L"Orvanta Ltd", L"Orvanta Code Signing"}, false},
        {{L"Orvanta", L"Orvanta Code Signing "}, false},
        {{L"", L"Orvanta Code Signing"}, false},
        {{L"Orvanta", L""}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SamePublisher(kVendor, c.other), c.same) << c.other.organization.c_str() << "/" << c.other.commonName.c_str();
    // No common name identifies no one, not even another signer without one.
    EXPECT_FALSE(SamePublisher({L"", L""}, {L"", L""}));
    EXPECT_FALSE(SamePublisher({L"Orvanta", L""}, {L"Orvanta", L""}));
    EXPECT_TRUE(SamePublisher({L"", L"Individual Developer"}, {L"", L"Individual Developer"}));
}

TEST(JudgeSignatures, Table)
{
    const FileSignature unsignedFile = Signature(SignatureState::Unsigned, {});
    const FileSignature other = Signature(SignatureState::Valid, {L"Other", L"Other"});
    struct Case { const char* name; FileSignature updater, installer; InstallerVerdict expected; };
    const Case cases[] = {
        {"same publisher", Signature(SignatureState::Valid), Signature(SignatureState::Valid), InstallerVerdict::Genuine},
        {"other publisher", Signature(SignatureState::Valid), other, InstallerVerdict::OtherPublisher},
        {"unsigned installer", Signature(SignatureState::Valid), unsignedFile, InstallerVerdict::InstallerUnsigned},
        // Expired, untrusted or tampered with: the names in it do not count.
        {"invalid installer of the same publisher", Signature(SignatureState::Valid), Signature(SignatureState::Invalid),
         InstallerVerdict::InstallerSignatureInvalid},
        // A development build checks nothing.
        {"unsigned updater, other publisher", unsignedFile, other, InstallerVerdict::Genuine},
        {"unsigned updater, unsigned installer", unsignedFile, unsignedFile, InstallerVerdict::Genuine},
        {"unsigned updater, invalid installer", unsignedFile, Signature(SignatureState::Invalid), InstallerVerdict::Genuine},
        // An updater whose own certificate has run out still insists on its publisher.
        {"expired updater, same publisher", Signature(SignatureState::Invalid), Signature(SignatureState::Valid),
         InstallerVerdict::Genuine},
        {"expired updater, other publisher", Signature(SignatureState::Invalid), other, InstallerVerdict::OtherPublisher},
        {"expired updater, unsigned installer", Signature(SignatureState::Invalid), unsignedFile,
         InstallerVerdict::InstallerUnsigned},
        {"updater signer unreadable", Signature(SignatureState::Invalid, {}), Signature(SignatureState::Valid),
         InstallerVerdict::OtherPublisher},
    };
    for (const Case& c : cases) EXPECT_EQ(JudgeSignatures(c.updater, c.installer), c.expected) << c.name;
}

TEST(ParseInstallerSha256, ExactlySixtyFourHexDigits)
{
    const std::wstring lower(L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    std::wstring upper = lower;
    for (auto& c : upper) c = static_cast<wchar_t>(towupper(c));

    EXPECT_EQ(ParseInstallerSha256(false, lower).kind, Kind::Absent);
    for (const std::wstring& text : {lower, upper}) {
        const ExpectedInstallerHash parsed = ParseInstallerSha256(true, text);
        EXPECT_EQ(parsed.kind, Kind::Present);
        EXPECT_EQ(parsed.digest, DigestFromHex(kAbc));
    }
    const std::wstring malformed[] = {
        L"", lower.substr(1), lower + L"0", L" " + lower.substr(1), lower.substr(0, 63) + L"g",
        lower.substr(0, 63) + L"\u0661",  // an Arabic-Indic digit is no hex digit
        std::wstring(64, L'-'), L"0x" + lower.substr(2),
    };
    for (const std::wstring& text : malformed)
        EXPECT_EQ(ParseInstallerSha256(true, text).kind, Kind::Malformed) << text.size();
}

TEST(JudgeHash, Table)
{
    ExpectedInstallerHash present;
    present.kind = Kind::Present;
    present.digest = DigestFromHex(kAbc);
    Sha256Digest other = present.digest;
    other[31] ^= 1;
    ExpectedInstallerHash malformed;
    malformed.kind = Kind::Malformed;

    EXPECT_EQ(JudgeHash(ExpectedInstallerHash{}, false, {}), InstallerVerdict::Genuine);  // absent: nothing to check
    EXPECT_EQ(JudgeHash(present, true, present.digest), InstallerVerdict::Genuine);
    EXPECT_EQ(JudgeHash(present, true, other), InstallerVerdict::HashMismatch);
    EXPECT_EQ(JudgeHash(present, false, present.digest), InstallerVerdict::HashUnreadable);
    EXPECT_EQ(JudgeHash(malformed, true, present.digest), InstallerVerdict::HashMalformed);
}

class VersionFileHash : public ::testing::Test {
protected:
    ExpectedInstallerHash Read(const std::string& contents)
    {
        const std::wstring path = scratch / L"WRZ_QVLVer.ini";
        std::ofstream(path.c_str(), std::ios::binary) << contents;
        return ReadExpectedInstallerHash(path);
    }
    ScratchDirectory scratch;
};

TEST_F(VersionFileHash, AbsentEmptyMalformedOrPresent)
{
    const std::string hex(kAbc);
    struct Case { std::string file; Kind expected; };
    const Case cases[] = {
        {"[ServerSoftVersion]\r\nLatestVersion=8\r\n", Kind::Absent},
        {"[Other]\r\nInstallerSha256=" + hex + "\r\n", Kind::Absent},  // another section
        {"[ServerSoftVersion]\r\nInstallerSha256=\r\n", Kind::Malformed},  // present, empty
        {"[ServerSoftVersion]\r\nInstallerSha256=0\r\n", Kind::Malformed},
        {"[ServerSoftVersion]\r\nInstallerSha256=1\r\n", Kind::Malformed},
        {"[ServerSoftVersion]\r\nInstallerSha256=" + hex.substr(1) + "\r\n", Kind::Malformed},
        {"[ServerSoftVersion]\r\nInstallerSha256=" + hex + "0\r\n", Kind::Malformed},
        // A long value must not be cut down to a well-formed one.
        {"[ServerSoftVersion]\r\nInstallerSha256=" + hex + std::string(300, 'a') + "\r\n", Kind::Malformed},
        {"[ServerSoftVersion]\r\nLatestVersion=8\r\nInstallerSha256=" + hex + "\r\n", Kind::Present},
        {"[serversoftversion]\r\ninstallersha256 = " + hex + "  \r\n", Kind::Present},
    };
    for (const Case& c : cases) {
        const ExpectedInstallerHash read = Read(c.file);
        EXPECT_EQ(read.kind, c.expected) << c.file;
        if (c.expected == Kind::Present) {
            EXPECT_EQ(read.digest, DigestFromHex(kAbc));
        }
    }
}

TEST_F(VersionFileHash, MissingFileMeansNoHash)
{
    EXPECT_EQ(ReadExpectedInstallerHash(scratch / L"missing.ini").kind, Kind::Absent);
}

TEST(Sha256, KnownDigestsOfFilesAcrossReadChunksAndOfBytes)
{
    ScratchDirectory scratch;
    struct Case { std::string contents; const char* digest; };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", kAbc},
        // Larger than one read of the file, and not a whole number of reads.
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        const std::wstring path = scratch / L"file.bin";
        std::ofstream(path.c_str(), std::ios::binary | std::ios::trunc) << c.contents;
        Sha256Digest digest{};
        ASSERT_TRUE(HashFileSha256(path, digest)) << c.contents.size();
        EXPECT_EQ(digest, DigestFromHex(c.digest)) << c.contents.size();
        Sha256Digest inMemory{};
        ASSERT_TRUE(HashBytesSha256(c.contents.data(), c.contents.size(), inMemory)) << c.contents.size();
        EXPECT_EQ(inMemory, DigestFromHex(c.digest)) << c.contents.size();
    }
    Sha256Digest digest{};
    EXPECT_FALSE(HashFileSha256(scratch / L"missing.bin", digest));
}
}  // namespace
