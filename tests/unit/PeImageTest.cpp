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
// a file header marking an executable, a 32-bit optional header, and one
// section whose bytes fill 0x200..0x3FF.
constexpr std::size_t kPe = 0x80, kFileHeader = kPe + 4, kSectionTable = kFileHeader + 20 + 0xE0;
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
    Put16(bytes, kFileHeader + 20, 0x10B);
    Put32(bytes, kSectionTable + 16, 0x200);  // raw size
    Put32(bytes, kSectionTable + 20, 0x200);  // raw pointer
    return bytes;
}

template <typename Change>
std::vector<std::uint8_t> ImageWith(Change change)
{
    std::vector<std::uint8_t> bytes = Image();
    change(bytes);
    return bytes;
}

std::vector<std::uint8_t> Bytes(const std::string& text)
{
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

TEST(IsWindowsProgramImage, Table)
{
    using B = std::vector<std::uint8_t>&;
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        bool program;
    };
    const Case cases[] = {
        {"32-bit program", Image(), true},
        {"64-bit program", ImageWith([](B b) { Put16(b, kFileHeader + 20, 0x20B); }), true},
        {"data appended, as a signature is", ImageWith([](B b) { b.resize(0x900, 0xAB); }), true},
        {"empty file", {}, false},
        {"HTML error page", Bytes("<html><head><title>404 Not Found</title></head><body></body></html>"), false},
        {"MZ alone", Bytes("MZ"), false},
        {"no PE signature", ImageWith([](B b) { b[kPe + 1] = 'X'; }), false},
        {"headers cut off", ImageWith([](B b) { b.resize(kPe + 25); }), false},
        {"cut short in transit", ImageWith([](B b) { b.resize(0x3FF); }), false},
        {"e_lfanew beyond the file", ImageWith([](B b) { Put32(b, 0x3C, 0x7FFFFFF0); }), false},
        {"e_lfanew wraps around", ImageWith([](B b) { Put32(b, 0x3C, 0xFFFFFFFF); }), false},
        {"e_lfanew inside the DOS header", ImageWith([](B b) { Put32(b, 0x3C, 0x3C); }), false},
        {"a DLL", ImageWith([](B b) { Put16(b, kFileHeader + 18, 0x2102); }), false},
        {"not marked executable", ImageWith([](B b) { Put16(b, kFileHeader + 18, 0x0100); }), false},
        {"ROM optional header", ImageWith([](B b) { Put16(b, kFileHeader + 20, 0x107); }), false},
        {"no sections", ImageWith([](B b) { Put16(b, kFileHeader + 2, 0); }), false},
        {"more sections than the file holds", ImageWith([](B b) { Put16(b, kFileHeader + 2, 0xFFFF); }), false},
        {"section end wraps 32 bits",
         ImageWith([](B b) { Put32(b, kSectionTable + 16, 0xFFFFFFFF); Put32(b, kSectionTable + 20, 0x10); }), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsWindowsProgramImage(c.bytes.data(), c.bytes.size(), c.bytes.size()), c.program) << c.name;

    // Only the file's start is read for a large file: the size says where it ends.
    const std::vector<std::uint8_t> start = Image();
    EXPECT_TRUE(IsWindowsProgramImage(start.data(), 0x200, 0x400));
    EXPECT_FALSE(IsWindowsProgramImage(start.data(), 0x200, 0x3FF));
    EXPECT_FALSE(IsWindowsProgramImage(nullptr, 0, 0));
}

TEST(IsWindowsProgramImage, TheLinkersOutput)
{
    // What the real toolchain writes: the updater is a program, the plug-in
    // a DLL that the shell cannot start, and half the updater no program.
    const struct {
        const wchar_t* name;
        bool whole;
        bool program;
    } files[] = {{L"Quillon.exe", true, true}, {L"Plugin.dll", true, false}, {L"Quillon.exe", false, false}};
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
        EXPECT_EQ(IsWindowsProgramImage(bytes.data(), read < length ? read : length, length), f.program)
            << std::string(path.begin(), path.end()) << (f.whole ? "" : " cut in half");
    }
}
}  // namespace
