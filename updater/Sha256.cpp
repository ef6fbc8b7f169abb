#include "Sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include <vector>

#include "LoadedLibrary.h"
#include "UniqueHandle.h"

namespace {
// The CNG functions, bound only when something is hashed (an installer, the
// signed text of an announcement): a run that ends up to date never loads
// bcrypt. Loaded from the system directory by full path.
struct HashFunctions {
    LoadedLibrary bcrypt = LoadSystemLibrary(L"bcrypt.dll");
    decltype(&BCryptOpenAlgorithmProvider) openProvider =
        bcrypt.Find<decltype(&BCryptOpenAlgorithmProvider)>("BCryptOpenAlgorithmProvider");
    decltype(&BCryptCloseAlgorithmProvider) closeProvider =
        bcrypt.Find<decltype(&BCryptCloseAlgorithmProvider)>("BCryptCloseAlgorithmProvider");
    decltype(&BCryptCreateHash) createHash = bcrypt.Find<decltype(&BCryptCreateHash)>("BCryptCreateHash");
    decltype(&BCryptHashData) hashData = bcrypt.Find<decltype(&BCryptHashData)>("BCryptHashData");
    decltype(&BCryptFinishHash) finishHash = bcrypt.Find<decltype(&BCryptFinishHash)>("BCryptFinishHash");
    decltype(&BCryptDestroyHash) destroyHash = bcrypt.Find<decltype(&BCryptDestroyHash)>("BCryptDestroyHash");

    bool Bound() const { return openProvider && closeProvider && createHash && hashData && finishHash && destroyHash; }
};

// Owns an algorithm provider opened with BCryptOpenAlgorithmProvider.
class AlgorithmProvider {
public:
    AlgorithmProvider(const HashFunctions& cng, const wchar_t* algorithm) : cng_(cng)
    {
        if (!cng_.Bound() || !BCRYPT_SUCCESS(cng_.openProvider(&handle_, algorithm, nullptr, 0))) handle_ = nullptr;
    }
    AlgorithmProvider(const AlgorithmProvider&) = delete;
    AlgorithmProvider& operator=(const AlgorithmProvider&) = delete;
    ~AlgorithmProvider() { if (handle_) cng_.closeProvider(handle_, 0); }
    BCRYPT_ALG_HANDLE get() const { return handle_; }

private:
    const HashFunctions& cng_;
    BCRYPT_ALG_HANDLE handle_ = nullptr;
};

// Owns a hash object made with BCryptCreateHash. The platform keeps the
// object's state in memory the provider allocates itself (Windows 7 and later).
class HashObject {
public:
    HashObject(const HashFunctions& cng, const AlgorithmProvider& provider) : cng_(cng)
    {
        if (!provider.get() || !BCRYPT_SUCCESS(cng_.createHash(provider.get(), &handle_, nullptr, 0, nullptr, 0, 0)))
            handle_ = nullptr;
    }
    HashObject(const HashObject&) = delete;
    HashObject& operator=(const HashObject&) = delete;
    ~HashObject() { if (handle_) cng_.destroyHash(handle_); }
    BCRYPT_HASH_HANDLE get() const { return handle_; }

private:
    const HashFunctions& cng_;
    BCRYPT_HASH_HANDLE handle_ = nullptr;
};

// One SHA-256 computation: the provider, bound and opened, and its hash
// object, released together on every path out.
class Sha256Computation {
public:
    Sha256Computation() : provider_(cng_, BCRYPT_SHA256_ALGORITHM), hash_(cng_, provider_) {}
    bool Ready() const { return hash_.get() != nullptr; }
    bool Add(const void* data, ULONG size)
    {
        return BCRYPT_SUCCESS(cng_.hashData(hash_.get(), static_cast<PUCHAR>(const_cast<void*>(data)), size, 0));
    }
    bool Finish(Sha256Digest& digest)
    {
        return BCRYPT_SUCCESS(cng_.finishHash(hash_.get(), digest.data(), static_cast<ULONG>(digest.size()), 0));
    }

private:
    const HashFunctions cng_;
    const AlgorithmProvider provider_;
    const HashObject hash_;
};

constexpr DWORD kReadChunk = 64 * 1024;
}  // namespace

bool HashFileSha256(const std::wstring& path, Sha256Digest& digest)
{
    const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return false;
    Sha256Computation sha256;
    if (!sha256.Ready()) return false;

    std::vector<UCHAR> chunk(kReadChunk);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.get(), chunk.data(), kReadChunk, &read, nullptr)) return false;
        if (read == 0) break;
        if (!sha256.Add(chunk.data(), read)) return false;
    }
    return sha256.Finish(digest);
}

bool HashBytesSha256(const void* data, std::size_t size, Sha256Digest& digest)
{
    Sha256Computation sha256;
    if (!sha256.Ready()) return false;
    // In pieces that a ULONG counts; texts here are small, but the limit is the platform's.
    const auto* bytes = static_cast<const UCHAR*>(data);
    while (size > 0) {
        const ULONG piece = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        if (!sha256.Add(bytes, piece)) return false;
        bytes += piece;
        size -= piece;
    }
    return sha256.Finish(digest);
}
