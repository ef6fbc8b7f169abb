#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "PeImage.h"
#include "TestPaths.h"
#include "UniqueHandle.h"

namespace {
void Put16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value)
{
    bytes[at] = static_cast<std::uint8_t>(value);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value)
{
    Put16(bytes, at, value & 0xFFFF);
    Put16(bytes, at + 2, value >> 16);
}

// A minimal program of 0x400 bytes: DOS header with e_lfanew = 0x80, "PE\0\0",
// a file header marking an i386 executable, a 32-bit optional header of a GUI
// program with 16 data directories, and one section whose bytes fill
// 0x200..0x3FF.
constexpr std::size_t kPe = 0x80, kFileHeader = kPe + 4, kOptional = kFileHeader + 20;
constexpr std::size_t kSectionTable = kOptional + 0xE0;
constexpr std::size_t kSubsystem = kOptional + 68, kDirectoryCount = kOptional + 92;
constexpr std::size_t kCertificateEntry = kOptional + 96 + 4 * 8;
std::vector<std::uint8_t> Image()
{
    std::vector<std::uint8_t> bytes(0x400, 0);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    Put32(bytes, 0x3C, kPe);
    bytes[kPe] = 'P';
    bytes[kPe + 1] = 'E';
    Put16(bytes, kFileHeader, 0x14C);      // i386
    Put16(bytes, kFileHeader + 2, 1);      // sections
    Put16(bytes, kFileHeader + 16, 0xE0);  // optional header size
    Put16(bytes, kFileHeader + 18, 0x0102);
    Put16(bytes, kOptional, 0x10B);
    Put16(bytes, kSubsystem, 2);         // Windows GUI
    Put32(bytes, kDirectoryCount, 16);
    Put32(bytes, kSectionTable + 16, 0x200);  // raw size
    Put32(bytes, kSectionTable + 20, 0x200);  // raw pointer
    return bytes;
}

// bytes, with one change made.
template <typename Change>
std::vector<std::uint8_t> With(std::vector<std::uint8_t> bytes, Change change)
{
    change(bytes);
    return bytes;
}

// The image with a certificate table of 0x100 bytes appended, as a signature
// is, its directory entry pointing at it.
std::vector<std::uint8_t> Signed()
{
    std::vector<std::uint8_t> bytes = Image();
    Put32(bytes, kCertificateEntry, 0x400);
    Put32(bytes, kCertificateEntry + 4, 0x100);
    bytes.resize(0x500, 0xAB);
    return bytes;
}


std::vector<std::uint8_t> Bytes(const std::string& text)
{
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

TEST(JudgeProgramImage, Table)
{
    using B = std::vector<std::uint8_t>&;
    using P = ProgramImage;
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        ProgramImage expected;
    };
    const Case cases[] = {
        {"32-bit GUI program", Image(), P::Program},
        {"console program", With(Image(), [](B b) { Put16(b, kSubsystem, 3); }), P::Program},
        {"data appended, as NSIS appends its own", With(Image(), [](B b) { b.resize(0x900, 0xAB); }), P::Program},
        {"signed: the certificate table ends the file", Signed(), P::Program},
        {"signed, more data after the table", With(Signed(), [](B b) { b.resize(0x600, 0); }), P::Program},
        {"empty file", {}, P::NotAnImage},
        {"HTML error page", Bytes("<html><head><title>404 Not Found</title></head><body></body></html>"),
         P::NotAnImage},
        {"MZ alone", Bytes("MZ"), P::NotAnImage},
        {"no PE signature", With(Image(), [](B b) { b[kPe + 1] = 'X'; }), P::NotAnImage},
        {"headers cut off", With(Image(), [](B b) { b.resize(kPe + 25); }), P::NotAnImage},
        {"optional header cut off", With(Image(), [](B b) { b.resize(kOptional + 60); }), P::NotAnImage},
        {"e_lfanew beyond the file", With(Image(), [](B b) { Put32(b, 0x3C, 0x7FFFFFF0); }), P::NotAnImage},
        {"e_lfanew wraps around", With(Image(), [](B b) { Put32(b, 0x3C, 0xFFFFFFFF); }), P::NotAnImage},
        {"e_lfanew inside the DOS header", With(Image(), [](B b) { Put32(b, 0x3C, 0x3C); }), P::NotAnImage},
        {"optional header too short for a subsystem", With(Image(), [](B b) { Put16(b, kFileHeader + 16, 68); }),
         P::NotAnImage},
        {"optional header larger than the file", With(Image(), [](B b) { Put16(b, kFileHeader + 16, 0xFFFF); }),
         P::NotAnImage},
        {"no sections", With(Image(), [](B b) { Put16(b, kFileHeader + 2, 0); }), P::NotAnImage},
        {"more sections than the file holds", With(Image(), [](B b) { Put16(b, kFileHeader + 2, 0xFFFF); }),
         P::NotAnImage},
        {"x64", With(Image(), [](B b) { Put16(b, kFileHeader, 0x8664); Put16(b, kOptional, 0x20B); }), P::OtherMachine},
        {"ARM64", With(Image(), [](B b) { Put16(b, kFileHeader, 0xAA64); }), P::OtherMachine},
        {"machine unknown (0)", With(Image(), [](B b) { Put16(b, kFileHeader, 0); }), P::OtherMachine},
        {"i386 machine with a 64-bit optional header", With(Image(), [](B b) { Put16(b, kOptional, 0x20B); }),
         P::OtherMachine},
        {"ROM optional header", With(Image(), [](B b) { Put16(b, kOptional, 0x107); }), P::OtherMachine},
        {"a DLL", With(Image(), [](B b) { Put16(b, kFileHeader + 18, 0x2102); }), P::Library},
        {"not marked executable", With(Image(), [](B b) { Put16(b, kFileHeader + 18, 0x0100); }), P::Library},
        {"native subsystem (a driver)", With(Image(), [](B b) { Put16(b, kSubsystem, 1); }), P::OtherSubsystem},
        {"EFI application", With(Image(), [](B b) { Put16(b, kSubsystem, 10); }), P::OtherSubsystem},
        {"no subsystem", With(Image(), [](B b) { Put16(b, kSubsystem, 0); }), P::OtherSubsystem},
        {"cut short in a section", With(Image(), [](B b) { b.resize(0x3FF); }), P::Incomplete},
        {"section end wraps 32 bits",
         With(Image(), [](B b) { Put32(b, kSectionTable + 16, 0xFFFFFFFF); Put32(b, kSectionTable + 20, 0x10); }),
         P::Incomplete},
        // Cut in the overlay: every section is whole, the signature is not.
        {"cut in the certificate table", With(Signed(), [](B b) { b.resize(0x4FF); }), P::Incomplete},
        {"cut right after the sections", With(Signed(), [](B b) { b.resize(0x400); }), P::Incomplete},
        {"certificate table end wraps 32 bits",
         With(Signed(), [](B b) { Put32(b, kCertificateEntry, 0xFFFFFF00); Put32(b, kCertificateEntry + 4, 0x200); }),
         P::Incomplete},
        // Fewer data directories than the certificate table's: none to check.
        {"four data directories", With(Signed(), [](B b) { Put32(b, kDirectoryCount, 4); b.resize(0x400); }),
         P::Program},
        {"optional header ends before the certificate entry",
         With(Signed(), [](B b) { Put16(b, kFileHeader + 16, 96 + 4 * 8); b.resize(0x400); }), P::Program},
    };
    for (const Case& c : cases)
        EXPECT_EQ(JudgeProgramImage(c.bytes.data(), c.bytes.size(), c.bytes.size()), c.expected) << c.name;

    // Only the file's start is read for a large file: the size says where it ends.
    const std::vector<std::uint8_t> start = Signed();
    EXPECT_EQ(JudgeProgramImage(start.data(), 0x200, 0x500), P::Program);
    EXPECT_EQ(JudgeProgramImage(start.data(), 0x200, 0x4FF), P::Incomplete);
    EXPECT_EQ(JudgeProgramImage(nullptr, 0, 0), P::NotAnImage);
}

TEST(JudgeProgramImage, TheLinkersOutput)
{
    // What the real toolchain writes: the updater (GUI) and the unit tests
    // (console) are programs, the plug-in a DLL that the shell cannot start,
    // and half the updater no program.
    const struct {
        const wchar_t* name;
        bool whole;
        ProgramImage expected;
    } files[] = {{L"Quillon.exe", true, ProgramImage::Program}, {L"unit_tests.exe", true, ProgramImage::Program},
                 {L"Plugin.dll", true, ProgramImage::Library}, {L"Quillon.exe", false, ProgramImage::Incomplete}};
    for (const auto& f : files) {
        const std::wstring path = BesideTests(f.name);
        UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file) << "cannot open " << std::string(path.begin(), path.end());
        LARGE_INTEGER size{};
        ASSERT_TRUE(GetFileSizeEx(file.get(), &size));
        std::vector<std::uint8_t> bytes(kPeImageProbeBytes);
        DWORD read = 0;
        ASSERT_TRUE(ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr));
        const std::uint64_t length = f.whole ? static_cast<std::uint64_t>(size.QuadPart) : size.QuadPart / 2;
        EXPECT_EQ(JudgeProgramImage(bytes.data(), read < length ? read : length, length), f.expected)
            << std::string(path.begin(), path.end()) << (f.whole ? "" : " cut in half");
    }
}
}  // namespace
