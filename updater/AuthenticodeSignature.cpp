#include "AuthenticodeSignature.h"

#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include "CertificateNames.h"
#include "LoadedLibrary.h"

namespace {
// wintrust and crypt32, bound only when a signature is read: a run that ends
// up to date never loads them, and loading them costs a start of the updater
// time before its verdict. Loaded from the system directory by full path.
struct TrustFunctions {
    LoadedLibrary wintrust = LoadSystemLibrary(L"wintrust.dll");
    LoadedLibrary crypt32 = LoadSystemLibrary(L"crypt32.dll");
    decltype(&WinVerifyTrust) verify = wintrust.Find<decltype(&WinVerifyTrust)>("WinVerifyTrust");
    decltype(&WTHelperProvDataFromStateData) providerData =
        wintrust.Find<decltype(&WTHelperProvDataFromStateData)>("WTHelperProvDataFromStateData");
    decltype(&WTHelperGetProvSignerFromChain) signerFromChain =
        wintrust.Find<decltype(&WTHelperGetProvSignerFromChain)>("WTHelperGetProvSignerFromChain");
    decltype(&CertGetNameStringW) nameString = crypt32.Find<decltype(&CertGetNameStringW)>("CertGetNameStringW");

    bool Bound() const { return verify && providerData && signerFromChain && nameString; }
};

// Owns the verification state WinVerifyTrust keeps after a verify call (the
// signature, the signer's chain); releases it on every path out.
class TrustVerification {
public:
    TrustVerification(const TrustFunctions& trust, const std::wstring& path) : trust_(trust)
    {
        file_.cbStruct = sizeof(file_);
        file_.pcwszFilePath = path.c_str();
        data_.cbStruct = sizeof(data_);
        data_.dwUIChoice = WTD_UI_NONE;
        data_.fdwRevocationChecks = WTD_REVOKE_NONE;
        data_.dwUnionChoice = WTD_CHOICE_FILE;
        data_.pFile = &file_;
        data_.dwStateAction = WTD_STATEACTION_VERIFY;
        data_.dwProvFlags = WTD_REVOCATION_CHECK_NONE;
        result_ = trust_.verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
        // Why there is no signature, where the answer is that there is none.
        reason_ = static_cast<LONG>(GetLastError());
    }
    TrustVerification(const TrustVerification&) = delete;
    TrustVerification& operator=(const TrustVerification&) = delete;
    ~TrustVerification()
    {
        data_.dwStateAction = WTD_STATEACTION_CLOSE;
        trust_.verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
    }

    LONG Result() const { return result_; }
    LONG Reason() const { return reason_; }

    // The certificate that signed the file, owned by the verification state;
    // null when the signature could not be read that far.
    PCCERT_CONTEXT SignerCertificate() const
    {
        if (!data_.hWVTStateData) return nullptr;
        CRYPT_PROVIDER_DATA* provider = trust_.providerData(data_.hWVTStateData);
        if (!provider) return nullptr;
        CRYPT_PROVIDER_SGNR* signer = trust_.signerFromChain(provider, 0, FALSE, 0);
        if (!signer || signer->csCertChain == 0 || !signer->pasCertChain) return nullptr;
        return signer->pasCertChain[0].pCert;
    }

private:
    const TrustFunctions& trust_;
    GUID action_ = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO file_ = {};
    WINTRUST_DATA data_ = {};
    LONG result_ = 0;
    LONG reason_ = 0;
};
}  // namespace

FileSignature ReadFileSignature(const std::wstring& path)
{
    FileSignature signature;
    const TrustFunctions trust;
    if (!trust.Bound()) {
        // Nothing can be judged: the signature counts as invalid.
        signature.state = SignatureState::Invalid;
        signature.trustResult = static_cast<long>(HRESULT_FROM_WIN32(GetLastError()));
        return signature;
    }
    const TrustVerification verification(trust, path);
    signature.trustResult = verification.Result();
    signature.trustReason = verification.Reason();
    signature.state = SignatureStateFromTrustResult(verification.Result(), verification.Reason());
    signature.signer = ReadPublisherName(trust.nameString, verification.SignerCertificate());
    return signature;
}
