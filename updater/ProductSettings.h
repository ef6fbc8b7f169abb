#pragma once
#include <cstdint>
#include <string>

// Readers for the product key under HKEY_LOCAL_MACHINE. Every call opens the
// key (creating it where the process may), reads one value and closes it, so
// it sees the registry as it is now. Absent, mistyped or oversized values read
// as 0 or as the empty text.
std::uint32_t ReadProductDword(const wchar_t* name);
std::wstring ReadProductString(const wchar_t* name);

// Code units of the buffer ReadProductString reads into, terminator included.
constexpr std::size_t kProductStringCapacity = 260;
