// announcement_cost.exe [--root-store-first] SIGNED_UPDATER UNSIGNED_UPDATER VERSION_FILE INSTALLER
// Where a signed updater's time to an update goes: the checks of both kinds
// of updater, in one process and in the order an update makes them, each
// timed at its first call (as in a run of the updater) and as the median of
// later calls. With --root-store-first, the machine's trusted root store is
// opened once before them, to show what that first opening costs.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <string>

#include "AnnouncementCheck.h"
#include "AuthenticodeSignature.h"
#include "BenchTiming.h"
#include "Sha256.h"
#include "SignedTextVerification.h"

namespace {
template <typename Step>
void Time(const char* name, Step step)
{
    const double start = NowMs();
    step();
    const double first = NowMs() - start;
    const double later = MedianOf(9, [&] {
        const double begin = NowMs();
        step();
        return NowMs() - begin;
    });
    char label[160];
    wsprintfA(label, "%s, first call", name);
    PrintNote(label, first, "ms");
    wsprintfA(label, "%s, later calls (median)", name);
    PrintNote(label, later, "ms");
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const bool rootStoreFirst = argc == 6 && lstrcmpW(argv[1], L"--root-store-first") == 0;
    if (argc != (rootStoreFirst ? 6 : 5)) return 2;
    argv += rootStoreFirst ? 1 : 0;
    const std::wstring signedUpdater = argv[1], unsignedUpdater = argv[2], versionFile = argv[3], installer = argv[4];
    if (rootStoreFirst) {
        const double start = NowMs();
        HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
        PCCERT_CONTEXT any = root ? CertEnumCertificatesInStore(root, nullptr) : nullptr;
        if (any) CertFreeCertificateContext(any);
        if (root) CertCloseStore(root, 0);
        PrintNote("opening the trusted root store, first time in the process", NowMs() - start, "ms");
    }
    const std::uint32_t latest = GetPrivateProfileIntW(L"ServerSoftVersion", L"LatestVersion", 0, versionFile.c_str());
    const Announcement announcement = ReadAnnouncement(versionFile);
    const std::string text = AnnouncementText(latest, announcement.installerHash.digest);
    bool sane = true;
    Time("WinVerifyTrust of the unsigned updater's own file", [&] {
        sane = ReadFileSignature(unsignedUpdater).state == SignatureState::Unsigned && sane;
    });
    Time("WinVerifyTrust of the signed updater's own file", [&] {
        sane = ReadFileSignature(signedUpdater).state == SignatureState::Valid && sane;
    });
    Time("the signed announcement (CMS signature and chain)", [&] {
        sane = VerifySignedText(announcement.signature.der, text).state == SignedTextCheck::State::Verified && sane;
    });
    Time("WinVerifyTrust of the signed installer", [&] {
        sane = ReadFileSignature(installer).state == SignatureState::Valid && sane;
    });
    Time("SHA-256 of the installer", [&] {
        Sha256Digest digest{};
        sane = HashFileSha256(installer, digest) && sane;
    });
    std::fflush(stdout);
    return sane ? 0 : 1;
}
