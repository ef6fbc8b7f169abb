#include "PeImage.h"

namespace {
constexpr std::size_t kDosHeaderSize = 0x40;
constexpr std::size_t kNewHeaderOffsetField = 0x3C;
constexpr std::size_t kSignatureSize = 4;
constexpr std::size_t kFileHeaderSize = 20;
// Within the file header.
constexpr std::size_t kMachineField = 0;
constexpr std::size_t kSectionCountField = 2;
constexpr std::size_t kOptionalHeaderSizeField = 16;
constexpr std::size_t kCharacteristicsField = 18;
// Within the 32-bit optional header.
constexpr std::size_t kSubsystemField = 68;
constexpr std::size_t kDirectoryCountField = 92;
constexpr std::size_t kDirectoriesField = 96;
constexpr std::size_t kDirectorySize = 8;
constexpr std::size_t kCertificateDirectory = 4;  // IMAGE_DIRECTORY_ENTRY_SECURITY
// Within a section header.
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::size_t kRawSizeField = 16;
constexpr std::size_t kRawPointerField = 20;

constexpr std::uint16_t kMachineI386 = 0x14C;
constexpr std::uint16_t kExecutableImage = 0x0002;
constexpr std::uint16_t kDll = 0x2000;
constexpr std::uint16_t kOptionalHeader32 = 0x10B;
constexpr std::uint16_t kSubsystemWindowsGui = 2;
constexpr std::uint16_t kSubsystemWindowsConsole = 3;

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

ProgramImage JudgeProgramImage(const std::uint8_t* bytes, std::size_t size, std::uint64_t fileSize)
{
    if (!bytes || size > fileSize || size < kDosHeaderSize || bytes[0] != 'M' || bytes[1] != 'Z')
        return ProgramImage::NotAnImage;
    const std::uint32_t peOffset = Read32(bytes + kNewHeaderOffsetField);
    // The signature, the file header and the optional header's magic must lie
    // within what was read; size >= 0x40, so the subtraction cannot wrap.
    constexpr std::size_t kNeeded = kSignatureSize + kFileHeaderSize + 2;
    if (peOffset < kDosHeaderSize || peOffset > size - kNeeded) return ProgramImage::NotAnImage;
    const std::uint8_t* pe = bytes + peOffset;
    if (pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0) return ProgramImage::NotAnImage;
    const std::uint8_t* fileHeader = pe + kSignatureSize;
    if (Read16(fileHeader + kMachineField) != kMachineI386) return ProgramImage::OtherMachine;
    const std::uint16_t characteristics = Read16(fileHeader + kCharacteristicsField);
    if (!(characteristics & kExecutableImage) || (characteristics & kDll)) return ProgramImage::Library;
    if (Read16(fileHeader + kFileHeaderSize) != kOptionalHeader32) return ProgramImage::OtherMachine;

    // The optional header as far as the subsystem, within its declared size
    // and within what was read.
    const std::size_t optionalHeader = peOffset + kSignatureSize + kFileHeaderSize;
    const std::size_t optionalHeaderSize = Read16(fileHeader + kOptionalHeaderSizeField);
    if (optionalHeaderSize < kSubsystemField + 2 || optionalHeader + optionalHeaderSize > size)
        return ProgramImage::NotAnImage;
    const std::uint16_t subsystem = Read16(bytes + optionalHeader + kSubsystemField);
    if (subsystem != kSubsystemWindowsGui && subsystem != kSubsystemWindowsConsole)
        return ProgramImage::OtherSubsystem;

    // Every section's bytes must be in the file: a download cut short keeps
    // its headers and loses its end.
    const std::size_t sectionCount = Read16(fileHeader + kSectionCountField);
    const std::size_t sectionTable = optionalHeader + optionalHeaderSize;
    if (sectionCount == 0 || (size - sectionTable) / kSectionHeaderSize < sectionCount)
        return ProgramImage::NotAnImage;
    for (std::size_t i = 0; i < sectionCount; ++i) {
        const std::uint8_t* section = bytes + sectionTable + i * kSectionHeaderSize;
        const std::uint64_t end =
            static_cast<std::uint64_t>(Read32(section + kRawPointerField)) + Read32(section + kRawSizeField);
        if (end > fileSize) return ProgramImage::Incomplete;
    }

    // The certificate table comes after the sections, in the overlay, where
    // an NSIS installer also keeps its data: a download cut there keeps every
    // section. Its directory entry gives a file offset, not an address.
    const std::size_t entry = kDirectoriesField + kCertificateDirectory * kDirectorySize;
    if (optionalHeaderSize >= entry + kDirectorySize &&
        Read32(bytes + optionalHeader + kDirectoryCountField) > kCertificateDirectory) {
        const std::uint32_t tableOffset = Read32(bytes + optionalHeader + entry);
        const std::uint32_t tableSize = Read32(bytes + optionalHeader + entry + 4);
        if (tableSize != 0 && static_cast<std::uint64_t>(tableOffset) + tableSize > fileSize)
            return ProgramImage::Incomplete;
    }
    return ProgramImage::Program;
}

const wchar_t* DescribeProgramImage(ProgramImage image)
{
    switch (image) {
    case ProgramImage::Program: return L"a Windows program";
    case ProgramImage::NotAnImage: return L"no Windows program image";
    case ProgramImage::OtherMachine: return L"a program for another processor than x86";
    case ProgramImage::OtherSubsystem: return L"an image that is neither a GUI nor a console program";
    case ProgramImage::Library: return L"a DLL, not a program";
    case ProgramImage::Incomplete: return L"a program image that the file does not hold whole";
    }
    return L"";
}
