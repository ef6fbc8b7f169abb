#pragma once
#include <array>
#include <cstdint>
#include <string>

// What the updater knows about a signed file, and the decisions it takes on
// the installer before the shell may start it. Plain data in, verdict out;
// reading signatures and hashing files happens elsewhere.

// The names in a signer certificate's subject that identify a publisher. A
// renewed certificate keeps them, while its key, serial and dates change.
struct PublisherName {
    std::wstring organization;  // O
    std::wstring commonName;    // CN
};

enum class SignatureState {
    Unsigned,  // the file carries no Authenticode signature at all
    // It carries one that does not verify (tampered, expired, untrusted, ...),
    // or it could not be judged (the file could not be read, the check failed).
    Invalid,
    Valid,
};

struct FileSignature {
    SignatureState state = SignatureState::Invalid;
    long trustResult = 0;  // the platform's answer, for the trace
    long trustReason = 0;  // the last error beside it, for the trace
    // The signer's names; empty when no signer could be read. Filled for an
    // invalid signature too when its signer is readable.
    PublisherName signer;
};

// SHA-256 digests, as bytes.
using Sha256Digest = std::array<std::uint8_t, 32>;

// InstallerSha256 from the version file.
struct ExpectedInstallerHash {
    enum class Kind {
        Absent,     // no such key: no hash check (servers that predate it)
        Malformed,  // present, but not 64 hexadecimal digits
        Present,
    };
    Kind kind = Kind::Absent;
    Sha256Digest digest{};
};

// What the checks make of an installer that has arrived. Every verdict but
// Genuine refuses it: it is not started.
enum class InstallerVerdict {
    Genuine,
    NotAProgram,  // no whole 32-bit Windows program (see ProgramImage): an error page, a cut-off file, a DLL
    InstallerUnsigned,
    InstallerSignatureInvalid,
    OtherPublisher,
    HashMalformed,
    HashUnreadable,  // the downloaded file could not be read or hashed
    HashMismatch,
};

// WinVerifyTrust's answer as a state, failing closed. 0 is valid. The
// platform answers TRUST_E_NOSIGNATURE both for a file without a signature
// and for one it could not read or judge; only the last error beside it
// tells them apart, and only TRUST_E_NOSIGNATURE, TRUST_E_SUBJECT_FORM_UNKNOWN
// or TRUST_E_PROVIDER_UNKNOWN there means unsigned. Every other answer (a bad
// digest, an expired or untrusted certificate, a file that cannot be opened)
// is an invalid signature.
SignatureState SignatureStateFromTrustResult(long trustResult, long lastError);

// Two signers are the same publisher when organisation and common name are
// equal, character for character. A signer without a common name identifies
// no one and matches nothing.
bool SamePublisher(const PublisherName& a, const PublisherName& b);

// The same-publisher rule. An updater without any signature (a development
// build) accepts any installer. An updater that carries a signature accepts
// only an installer with a valid signature of the same publisher as its own
// signer, even when its own signature no longer verifies (an expired
// certificate, say): the rule must not switch itself off.
InstallerVerdict JudgeSignatures(const FileSignature& updater, const FileSignature& installer);

// The version file's InstallerSha256 value, when the key is present: exactly
// 64 hexadecimal digits in either case, nothing else.
ExpectedInstallerHash ParseInstallerSha256(bool present, const std::wstring& text);

// The hash rule. actual is the installer's digest when hashed is true.
InstallerVerdict JudgeHash(const ExpectedInstallerHash& expected, bool hashed, const Sha256Digest& actual);

// A short English name of the verdict for the debugger trace.
const wchar_t* DescribeVerdict(InstallerVerdict verdict);
