#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "InstallerTrust.h"

// The signed update announcement: what a signed updater requires of a version
// file before it fetches the installer it announces. Plain data in, verdict
// out; reading the file and asking the platform's crypto happen elsewhere.
//
// What is signed is not the file's bytes but a text built from the values the
// updater acts on, so that it verifies exactly those:
//
//   Quillon update announcement 1 for Orvanta/58P7M_WRZ<LF>
//   LatestVersion=<the number read, in decimal, no leading zeros><LF>
//   InstallerSha256=<the 32 bytes of the hash, 64 lower-case hex digits><LF>
//
// ASCII, each line ended by one LF (0x0A), nothing before or after. The first
// line makes a signature over it mean nothing anywhere else: not for another
// product, nor for another format.

constexpr const char* kAnnouncementContext = "Quillon update announcement 1 for Orvanta/58P7M_WRZ";

// The signed text for these values.
std::string AnnouncementText(std::uint32_t latestVersion, const Sha256Digest& installerSha256);

// The longest Signature value taken, in base64 characters: room for a
// signature with a 4096-bit key and a chain of several certificates. A longer
// value is refused rather than cut.
constexpr std::size_t kMaxSignatureBase64 = 16384;

// The version file's Signature value: base64 of a DER CMS SignedData.
struct AnnouncementSignature {
    enum class Kind {
        Absent,     // no such key
        Empty,      // present, nothing in it
        Malformed,  // not standard base64 with its padding
        TooLong,    // more than kMaxSignatureBase64 characters
        Present,
    };
    Kind kind = Kind::Absent;
    std::vector<std::uint8_t> der;  // the decoded bytes when Present
};

// present: the key is there; text: its value as read, which the reader lets
// run at least one character past kMaxSignatureBase64 when it is longer.
AnnouncementSignature ParseAnnouncementSignature(bool present, const std::wstring& text);

// Standard base64 (A-Z a-z 0-9 + /), in groups of four with "=" padding,
// nothing else, and the bits the padding leaves over all zero. False for
// anything else; out then holds nothing of use.
bool DecodeBase64(const std::wstring& text, std::vector<std::uint8_t>& out);

// The value of a signed messageDigest attribute (its DER encoding: an OCTET
// STRING) holds exactly this SHA-256 digest.
bool MessageDigestValueMatches(const std::uint8_t* value, std::size_t size, const Sha256Digest& digest);

// What the platform made of the signature over the text.
struct SignedTextCheck {
    enum class State {
        NotChecked,    // not asked: a field was already refused
        Unreadable,    // no detached CMS SignedData, or the platform could not be asked
        NotOneSigner,  // none, or more than one signer
        NotSha256,     // the signer's digest algorithm is not SHA-256
        NoSignerCertificate,  // the signer's certificate is not in the signature
        DoesNotVerify,        // the signature, or its messageDigest, is not over this text
        SignerNotTrusted,     // the chain does not reach a trusted root for code signing now
        Verified,
    };
    State state = State::NotChecked;
    long platformResult = 0;  // the platform's error or policy answer, for the trace
    long chainStatus = 0;     // the chain's error bits, for the trace
    // The signer's names; filled whenever its certificate was found.
    PublisherName signer;
};

// What the checks make of an announcement. Every verdict but Genuine refuses
// it: nothing is fetched or started.
enum class AnnouncementVerdict {
    Genuine,
    SignatureMissing,    // absent or empty
    SignatureMalformed,
    SignatureTooLong,
    HashMissing,         // a signed announcement always names the installer's hash
    HashMalformed,
    SignatureUnreadable, // not one SHA-256 signer with its certificate in a CMS SignedData
    SignatureDoesNotVerify,  // an edited version or hash, another context
    SignerNotTrusted,
    OtherPublisher,
};

// The announcement rule. An updater without any signature (a development
// build) ignores Signature: every announcement is genuine. A signed updater,
// even one whose own signature no longer verifies, needs a well-formed
// signature and hash, a signature that verifies over the text of the values
// it read, a signer trusted for code signing, and the same publisher as its
// own signer (SamePublisher).
AnnouncementVerdict JudgeAnnouncement(const FileSignature& updater, AnnouncementSignature::Kind signature,
                                      ExpectedInstallerHash::Kind hash, const SignedTextCheck& check);

// A short English name of the verdict for the debugger trace.
const wchar_t* DescribeAnnouncementVerdict(AnnouncementVerdict verdict);
