#pragma once
#include <cstddef>
#include <cstdint>

// How much of a file's beginning JudgeProgramImage is given. Headers that
// reach beyond it count as no headers: real programs keep them within the
// first few kilobytes.
constexpr std::size_t kPeImageProbeBytes = 64 * 1024;

// What a downloaded file is, as far as starting it as the installer goes.
enum class ProgramImage {
    Program,           // a whole 32-bit x86 Windows program with a window or a console
    NotAnImage,        // no MZ and PE headers: an error page, an empty file, a cut-off header
    OtherMachine,      // built for another processor (x64, ARM, ...), or not a 32-bit image
    OtherSubsystem,    // neither a Windows GUI nor a console program (a driver, an EFI image, ...)
    Library,           // a DLL, or an image not marked executable
    Incomplete,        // a section, or the signature's certificate table, reaches past the end of the file
};

// Judges a file from its first bytes (at most kPeImageProbeBytes) and its
// whole size: the "MZ" header; a "PE\0\0" signature where e_lfanew points,
// past the DOS header; machine i386; a file header marking an executable
// image that is not a DLL; a 32-bit optional header whose subsystem is the
// Windows GUI or the console; a section table whose sections all lie within
// the file; and a certificate table (where Authenticode keeps the signature,
// at the end of the file, after NSIS's data) that lies within the file too.
// A program cut short in transit fails one of the last two.
ProgramImage JudgeProgramImage(const std::uint8_t* bytes, std::size_t size, std::uint64_t fileSize);

// A short English description for the debugger trace.
const wchar_t* DescribeProgramImage(ProgramImage image);
