// signature_probe.exe FILE...
// For each file, one line with what the updater's own readers make of it:
//   state=<unsigned|invalid|valid>\tresult=<hex>\tO=<org>\tCN=<name>\tsha256=<hex or ->
// so that tests can compare the platform's verdict on real signatures with
// what they expect.
#include <windows.h>

#include <cstdio>

#include "AuthenticodeSignature.h"
#include "FileSha256.h"

namespace {
const char* StateName(SignatureState state)
{
    switch (state) {
    case SignatureState::Unsigned: return "unsigned";
    case SignatureState::Invalid: return "invalid";
    case SignatureState::Valid: return "valid";
    }
    return "?";
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    for (int i = 1; i < argc; ++i) {
        const FileSignature signature = ReadFileSignature(argv[i]);
        std::printf("state=%s\tresult=%08lx\tO=%ls\tCN=%ls\tsha256=", StateName(signature.state),
                    static_cast<unsigned long>(signature.trustResult), signature.signer.organization.c_str(),
                    signature.signer.commonName.c_str());
        Sha256Digest digest{};
        if (HashFileSha256(argv[i], digest))
            for (auto byte : digest) std::printf("%02x", byte);
        else
            std::printf("-");
        std::printf("\n");
        std::fflush(stdout);
    }
    std::fflush(stdout);
    return 0;
}
