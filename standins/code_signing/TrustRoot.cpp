// trust_root.exe add|remove CERT.der
// Puts a test root certificate into (or takes it out of) the machine's
// trusted root store of the Windows it runs on: under Wine, of that prefix
// only. Prints "ok" or the reason it failed; exit code 0 on success.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <vector>

#include "UniqueHandle.h"

namespace {
class CertificateStore {
public:
    CertificateStore()
        : store_(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root")) {}
    CertificateStore(const CertificateStore&) = delete;
    CertificateStore& operator=(const CertificateStore&) = delete;
    ~CertificateStore() { if (store_) CertCloseStore(store_, 0); }
    HCERTSTORE get() const { return store_; }

private:
    HCERTSTORE store_;
};

bool ReadWholeFile(const wchar_t* path, std::vector<BYTE>& bytes)
{
    const UniqueHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    const DWORD size = GetFileSize(file.get(), nullptr);
    if (size == INVALID_FILE_SIZE) return false;
    bytes.resize(size);
    DWORD read = 0;
    return ReadFile(file.get(), bytes.data(), size, &read, nullptr) && read == size;
}

int Fail(const char* what)
{
    std::printf("failed: %s (error %lu)\n", what, GetLastError());
    return 1;
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::printf("usage: trust_root add|remove CERT.der\n");
        return 2;
    }
    std::vector<BYTE> encoded;
    if (!ReadWholeFile(argv[2], encoded)) return Fail("cannot read the certificate");
    const CertificateStore store;
    if (!store.get()) return Fail("cannot open the root store");

    if (lstrcmpW(argv[1], L"add") == 0) {
        if (!CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, encoded.data(),
                                              static_cast<DWORD>(encoded.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                              nullptr))
            return Fail("cannot add the certificate");
    } else if (lstrcmpW(argv[1], L"remove") == 0) {
        PCCERT_CONTEXT wanted = CertCreateCertificateContext(X509_ASN_ENCODING, encoded.data(),
                                                             static_cast<DWORD>(encoded.size()));
        if (!wanted) return Fail("not a certificate");
        PCCERT_CONTEXT found = CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING,
                                                          wanted, nullptr);
        CertFreeCertificateContext(wanted);
        // Deleting frees the found context; a certificate that is not there
        // is already removed.
        if (found && !CertDeleteCertificateFromStore(found)) return Fail("cannot remove the certificate");
    } else {
        std::printf("usage: trust_root add|remove CERT.der\n");
        return 2;
    }
    std::printf("ok\n");
    return 0;
}
