#include "SignedTextVerification.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstring>

#include "CertificateNames.h"
#include "LoadedLibrary.h"
#include "Sha256.h"

namespace {
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// The crypt32 functions, bound only when an announcement is verified: a run
// that ends up to date never loads crypt32. Loaded from the system directory
// by full path.
struct CryptoFunctions {
    LoadedLibrary crypt32 = LoadSystemLibrary(L"crypt32.dll");
    decltype(&CryptMsgOpenToDecode) openMessage = crypt32.Find<decltype(&CryptMsgOpenToDecode)>("CryptMsgOpenToDecode");
    decltype(&CryptMsgUpdate) update = crypt32.Find<decltype(&CryptMsgUpdate)>("CryptMsgUpdate");
    decltype(&CryptMsgGetParam) getParam = crypt32.Find<decltype(&CryptMsgGetParam)>("CryptMsgGetParam");
    decltype(&CryptMsgControl) control = crypt32.Find<decltype(&CryptMsgControl)>("CryptMsgControl");
    decltype(&CryptMsgClose) closeMessage = crypt32.Find<decltype(&CryptMsgClose)>("CryptMsgClose");
    decltype(&CertOpenStore) openStore = crypt32.Find<decltype(&CertOpenStore)>("CertOpenStore");
    decltype(&CertCloseStore) closeStore = crypt32.Find<decltype(&CertCloseStore)>("CertCloseStore");
    decltype(&CertGetSubjectCertificateFromStore) findCertificate =
        crypt32.Find<decltype(&CertGetSubjectCertificateFromStore)>("CertGetSubjectCertificateFromStore");
    decltype(&CertFreeCertificateContext) freeCertificate =
        crypt32.Find<decltype(&CertFreeCertificateContext)>("CertFreeCertificateContext");
    decltype(&CertGetCertificateChain) getChain =
        crypt32.Find<decltype(&CertGetCertificateChain)>("CertGetCertificateChain");
    decltype(&CertFreeCertificateChain) freeChain =
        crypt32.Find<decltype(&CertFreeCertificateChain)>("CertFreeCertificateChain");
    decltype(&CertVerifyCertificateChainPolicy) verifyPolicy =
        crypt32.Find<decltype(&CertVerifyCertificateChainPolicy)>("CertVerifyCertificateChainPolicy");
    CertGetNameStringFunction nameString = crypt32.Find<CertGetNameStringFunction>("CertGetNameStringW");

    bool Bound() const
    {
        return openMessage && update && getParam && control && closeMessage && openStore && closeStore &&
               findCertificate && freeCertificate && getChain && freeChain && verifyPolicy && nameString;
    }
};

// Owns one object that crypt32 handed out, released through the function
// bound for it, on every path out.
template <typename Handle>
class CryptoObject {
public:
    using Release = void (*)(const CryptoFunctions&, Handle);
    CryptoObject(const CryptoFunctions& crypto, Handle handle, Release release)
        : crypto_(crypto), handle_(handle), release_(release) {}
    CryptoObject(const CryptoObject&) = delete;
    CryptoObject& operator=(const CryptoObject&) = delete;
    ~CryptoObject() { if (handle_) release_(crypto_, handle_); }
    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    const CryptoFunctions& crypto_;
    Handle handle_;
    Release release_;
};

// A parameter of the message in a buffer of its own size; false when the
// message has none.
bool MessageParam(const CryptoFunctions& crypto, HCRYPTMSG message, DWORD type, std::vector<BYTE>& value)
{
    DWORD size = 0;
    if (!crypto.getParam(message, type, 0, nullptr, &size) || size == 0) return false;
    value.assign(size, 0);
    return crypto.getParam(message, type, 0, value.data(), &size) != FALSE;
}

long LastError()
{
    return static_cast<long>(HRESULT_FROM_WIN32(GetLastError()));
}

// Whether what the signature covers is this text: the digest the platform
// computed over the content it took is the text's own (a signature that
// carries content of its own would otherwise be verified over that), and the
// signed attributes, when there are any, hold the same digest. The platform
// signs over these attributes, not over the text, and Windows checks the
// messageDigest among them when it verifies; Wine 8 does not, so the updater
// does it itself. Exactly one messageDigest with one value.
bool SignatureCoversText(const CryptoFunctions& crypto, HCRYPTMSG message, const CMSG_SIGNER_INFO& signer,
                         const std::string& text)
{
    Sha256Digest digest{};
    if (!HashBytesSha256(text.data(), text.size(), digest)) return false;
    Sha256Digest computed{};
    DWORD size = static_cast<DWORD>(computed.size());
    if (!crypto.getParam(message, CMSG_COMPUTED_HASH_PARAM, 0, computed.data(), &size) || size != computed.size() ||
        computed != digest)
        return false;
    if (signer.AuthAttrs.cAttr == 0) return true;  // the signature is over the text itself
    const CRYPT_ATTRIBUTE* digestAttribute = nullptr;
    for (DWORD i = 0; i < signer.AuthAttrs.cAttr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = signer.AuthAttrs.rgAttr[i];
        if (!attribute.pszObjId || std::strcmp(attribute.pszObjId, szOID_RSA_messageDigest) != 0) continue;
        if (digestAttribute) return false;
        digestAttribute = &attribute;
    }
    if (!digestAttribute || digestAttribute->cValue != 1) return false;
    const CRYPT_ATTR_BLOB& value = digestAttribute->rgValue[0];
    return MessageDigestValueMatches(value.pbData, value.cbData, digest);
}

// The chain from the signer's certificate to a trusted root, now, for code
// signing; the certificates the signature carries may fill in the middle.
void JudgeChain(const CryptoFunctions& crypto, PCCERT_CONTEXT signer, HCERTSTORE carried, SignedTextCheck& check)
{
    LPSTR codeSigning[] = {const_cast<LPSTR>(szOID_PKIX_KP_CODE_SIGNING)};
    CERT_CHAIN_PARA parameters = {};
    parameters.cbSize = sizeof(parameters);
    parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
    parameters.RequestedUsage.Usage.rgpszUsageIdentifier = codeSigning;
    PCCERT_CHAIN_CONTEXT chainContext = nullptr;
    check.state = SignedTextCheck::State::SignerNotTrusted;
    if (!crypto.getChain(nullptr, signer, nullptr, carried, &parameters, 0, nullptr, &chainContext)) {
        check.platformResult = LastError();
        return;
    }
    const CryptoObject<PCCERT_CHAIN_CONTEXT> chain(
        crypto, chainContext, [](const CryptoFunctions& c, PCCERT_CHAIN_CONTEXT h) { c.freeChain(h); });
    CERT_CHAIN_POLICY_PARA policy = {};
    policy.cbSize = sizeof(policy);
    CERT_CHAIN_POLICY_STATUS status = {};
    status.cbSize = sizeof(status);
    if (!crypto.verifyPolicy(CERT_CHAIN_POLICY_BASE, chain.get(), &policy, &status)) {
        check.platformResult = LastError();
        return;
    }
    check.platformResult = static_cast<long>(status.dwError);
    check.chainStatus = static_cast<long>(chain.get()->TrustStatus.dwErrorStatus);
    // Both must be clean: the base policy of Wine 8 passes a chain that ends
    // short of any root, which only the chain's own error bits tell.
    if (status.dwError == 0 && chain.get()->TrustStatus.dwErrorStatus == CERT_TRUST_NO_ERROR)
        check.state = SignedTextCheck::State::Verified;
}
}  // namespace

SignedTextCheck VerifySignedText(const std::vector<std::uint8_t>& signature, const std::string& text)
{
    using State = SignedTextCheck::State;
    SignedTextCheck check;
    check.state = State::Unreadable;
    const CryptoFunctions crypto;
    if (!crypto.Bound()) {
        check.platformResult = LastError();
        return check;
    }
    const CryptoObject<HCRYPTMSG> message(
        crypto, crypto.openMessage(kEncoding, CMSG_DETACHED_FLAG, 0, 0, nullptr, nullptr),
        [](const CryptoFunctions& c, HCRYPTMSG h) { c.closeMessage(h); });
    DWORD type = 0;
    DWORD size = sizeof(type);
    // The signature, then the detached text it is over.
    if (!message || !crypto.update(message.get(), signature.data(), static_cast<DWORD>(signature.size()), TRUE) ||
        !crypto.getParam(message.get(), CMSG_TYPE_PARAM, 0, &type, &size) || type != CMSG_SIGNED ||
        !crypto.update(message.get(), reinterpret_cast<const BYTE*>(text.data()), static_cast<DWORD>(text.size()),
                       TRUE)) {
        check.platformResult = LastError();
        return check;
    }
    DWORD signers = 0;
    size = sizeof(signers);
    if (!crypto.getParam(message.get(), CMSG_SIGNER_COUNT_PARAM, 0, &signers, &size) || signers != 1) {
        check.state = State::NotOneSigner;
        return check;
    }
    std::vector<BYTE> signerInfo;
    std::vector<BYTE> signerId;
    if (!MessageParam(crypto, message.get(), CMSG_SIGNER_INFO_PARAM, signerInfo) ||
        !MessageParam(crypto, message.get(), CMSG_SIGNER_CERT_INFO_PARAM, signerId)) {
        check.platformResult = LastError();
        return check;
    }
    const auto& signer = *reinterpret_cast<const CMSG_SIGNER_INFO*>(signerInfo.data());
    if (!signer.HashAlgorithm.pszObjId || std::strcmp(signer.HashAlgorithm.pszObjId, szOID_NIST_sha256) != 0) {
        check.state = State::NotSha256;
        return check;
    }

    // The certificates the signature carries; the signer's is among them.
    const CryptoObject<HCERTSTORE> carried(
        crypto, crypto.openStore(CERT_STORE_PROV_MSG, kEncoding, 0, 0, message.get()),
        [](const CryptoFunctions& c, HCERTSTORE h) { c.closeStore(h, 0); });
    const CryptoObject<PCCERT_CONTEXT> certificate(
        crypto,
        carried ? crypto.findCertificate(carried.get(), kEncoding, reinterpret_cast<PCERT_INFO>(signerId.data()))
                : nullptr,
        [](const CryptoFunctions& c, PCCERT_CONTEXT h) { c.freeCertificate(h); });
    if (!certificate) {
        check.state = State::NoSignerCertificate;
        check.platformResult = LastError();
        return check;
    }
    check.signer = ReadPublisherName(crypto.nameString, certificate.get());

    if (!crypto.control(message.get(), 0, CMSG_CTRL_VERIFY_SIGNATURE, certificate.get()->pCertInfo) ||
        !SignatureCoversText(crypto, message.get(), signer, text)) {
        check.state = State::DoesNotVerify;
        check.platformResult = LastError();
        return check;
    }
    JudgeChain(crypto, certificate.get(), carried.get(), check);
    return check;
}
