#include "PeImage.h"

namespace {
constexpr std::size_t kDosHeaderSize = 0x40;
constexpr std::size_t kNewHeaderOffsetField = 0x3C;
constexpr std::size_t kSignatureSize = 4;
constexpr std::size_t kFileHeaderSize = 20;
constexpr std::size_t kSectionCountField = 2;         // within the file header
constexpr std::size_t kOptionalHeaderSizeField = 16;  // within the file header
constexpr std::size_t kCharacteristicsField = 18;     // within the file header
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::size_t kRawSizeField = 16;             // within a section header
constexpr std::size_t kRawPointerField = 20;          // within a section header
constexpr std::uint16_t kExecutableImage = 0x0002;
constexpr std::uint16_t kDll = 0x2000;
constexpr std::uint16_t kOptionalHeader32 = 0x10B;
constexpr std::uint16_t kOptionalHeader64 = 0x20B;

std::uint16_t Read16(const std::uint8_t* at)
{
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

std::uint32_t Read32(const std::uint8_t* at)
{
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}
}  // namespace

bool IsWindowsProgramImage(const std::uint8_t* bytes, std::size_t size, std::uint64_t fileSize)
{
    if (!bytes || size > fileSize || size < kDosHeaderSize || bytes[0] != 'M' || bytes[1] != 'Z') return false;
    const std::uint32_t peOffset = Read32(bytes + kNewHeaderOffsetField);
    // The signature, the file header and the optional header's magic must lie
    // within what was read; size >= 0x40, so the subtraction cannot wrap.
    constexpr std::size_t kNeeded = kSignatureSize + kFileHeaderSize + 2;
    if (peOffset < kDosHeaderSize || peOffset > size - kNeeded) return false;
    const std::uint8_t* pe = bytes + peOffset;
    if (pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0) return false;
    const std::uint8_t* fileHeader = pe + kSignatureSize;
    const std::uint16_t characteristics = Read16(fileHeader + kCharacteristicsField);
    if (!(characteristics & kExecutableImage) || (characteristics & kDll)) return false;
    const std::uint16_t magic = Read16(fileHeader + kFileHeaderSize);
    if (magic != kOptionalHeader32 && magic != kOptionalHeader64) return false;

    // Every section's bytes must be in the file: a download cut short keeps
    // its headers and loses its end.
    const std::size_t sectionCount = Read16(fileHeader + kSectionCountField);
    const std::size_t sectionTable =
        peOffset + kSignatureSize + kFileHeaderSize + Read16(fileHeader + kOptionalHeaderSizeField);
    if (sectionCount == 0 || sectionTable > size || (size - sectionTable) / kSectionHeaderSize < sectionCount)
        return false;
    for (std::size_t i = 0; i < sectionCount; ++i) {
        const std::uint8_t* section = bytes + sectionTable + i * kSectionHeaderSize;
        const std::uint64_t end =
            static_cast<std::uint64_t>(Read32(section + kRawPointerField)) + Read32(section + kRawSizeField);
        if (end > fileSize) return false;
    }
    return true;
}
