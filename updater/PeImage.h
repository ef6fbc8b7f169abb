#pragma once
#include <cstddef>
#include <cstdint>

// How much of a file's beginning IsWindowsProgramImage is given. Headers that
// reach beyond it count as no headers: real programs keep them within the
// first few kilobytes.
constexpr std::size_t kPeImageProbeBytes = 64 * 1024;

// Whether a file is a Windows program the shell can start, judged from its
// first bytes (at most kPeImageProbeBytes) and its whole size: the "MZ"
// header; a "PE\0\0" signature where e_lfanew points, past the DOS header; a
// file header marking an executable image that is not a DLL; an optional
// header of the 32-bit or 64-bit kind; and a section table whose sections all
// lie within the file. An error page, an empty file, a cut-off header and a
// program cut short in transit are not.
bool IsWindowsProgramImage(const std::uint8_t* bytes, std::size_t size, std::uint64_t fileSize);
