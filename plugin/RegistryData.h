#pragma once
#include <windows.h>

#include <string>
#include <vector>

// Decimal text to a DWORD: an optional leading '-', then digits up to the
// first non-digit. No blanks, no '+', and no overflow check: the value wraps
// modulo 2^32, which scripts may rely on for texts such as "-1".
DWORD ParseDecimal(const std::wstring& text);

// Hexadecimal text to bytes, two digits a byte, high half first; an odd last
// digit fills a high half alone. Any other character gives no bytes at all.
std::vector<BYTE> HexDecode(const std::wstring& text);
