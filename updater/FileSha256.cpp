#include "FileSha256.h"

#include <windows.h>
#include <bcrypt.h>

#include <vector>

#include "UniqueHandle.h"

namespace {
// Owns an algorithm provider opened with BCryptOpenAlgorithmProvider.
class AlgorithmProvider {
public:
    explicit AlgorithmProvider(const wchar_t* algorithm)
    {
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle_, algorithm, nullptr, 0))) handle_ = nullptr;
    }
    AlgorithmProvider(const AlgorithmProvider&) = delete;
    AlgorithmProvider& operator=(const AlgorithmProvider&) = delete;
    ~AlgorithmProvider() { if (handle_) BCryptCloseAlgorithmProvider(handle_, 0); }
    BCRYPT_ALG_HANDLE get() const { return handle_; }

private:
    BCRYPT_ALG_HANDLE handle_ = nullptr;
};

// Owns a hash object made with BCryptCreateHash. The platform keeps the
// object's state in memory the provider allocates itself (Windows 7 and later).
class HashObject {
public:
    explicit HashObject(const AlgorithmProvider& provider)
    {
        if (!provider.get() || !BCRYPT_SUCCESS(BCryptCreateHash(provider.get(), &handle_, nullptr, 0, nullptr, 0, 0)))
            handle_ = nullptr;
    }
    HashObject(const HashObject&) = delete;
    HashObject& operator=(const HashObject&) = delete;
    ~HashObject() { if (handle_) BCryptDestroyHash(handle_); }
    BCRYPT_HASH_HANDLE get() const { return handle_; }

private:
    BCRYPT_HASH_HANDLE handle_ = nullptr;
};

constexpr DWORD kReadChunk = 64 * 1024;
}  // namespace

bool HashFileSha256(const std::wstring& path, Sha256Digest& digest)
{
    const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return false;
    const AlgorithmProvider provider(BCRYPT_SHA256_ALGORITHM);
    const HashObject hash(provider);
    if (!hash.get()) return false;

    std::vector<UCHAR> chunk(kReadChunk);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.get(), chunk.data(), kReadChunk, &read, nullptr)) return false;
        if (read == 0) break;
        if (!BCRYPT_SUCCESS(BCryptHashData(hash.get(), chunk.data(), read, 0))) return false;
    }
    return BCRYPT_SUCCESS(BCryptFinishHash(hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0));
}
