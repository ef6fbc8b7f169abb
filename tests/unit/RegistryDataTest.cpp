#include <gtest/gtest.h>

#include "RegistryData.h"

namespace {
TEST(ParseDecimal, Conversions)
{
    struct Case { std::wstring text; DWORD value; };
    const Case cases[] = {
        {L"42", 42},
        {L"0", 0},
        {L"-1", 0xFFFFFFFFu},
        {L"-0", 0},
        {L"4294967295", 0xFFFFFFFFu},
        {L"4294967296", 0},            // wraps modulo 2^32
        {L"4294967338", 42},
        {L"-2147483648", 0x80000000u},
        {L"12ab", 12},                 // stops at the first non-digit
        {L"0x10", 0},
        {L" 7", 0},                    // no blanks skipped
        {L"+7", 0},                    // no '+' sign
        {L"--1", 0},
        {L"abc", 0},
        {L"-", 0},
        {L"", 0},
        {L"\uff11", 0},                // a full-width digit is no digit
    };
    for (const Case& c : cases) EXPECT_EQ(ParseDecimal(c.text), c.value) << "'" << c.text << "'";
}

TEST(HexDecode, Conversions)
{
    using Bytes = std::vector<BYTE>;
    struct Case { std::wstring text; Bytes bytes; };
    const Case cases[] = {
        {L"0A1b", {0x0A, 0x1B}},
        {L"ffFF00", {0xFF, 0xFF, 0x00}},
        {L"1F3", {0x1F, 0x30}},        // an odd last digit fills a high half
        {L"7", {0x70}},
        {L"", {}},
        {L"0G", {}},                   // any bad digit empties the whole result
        {L"0 1", {}},
        {L"0A1", {0x0A, 0x10}},
        {L"AB-", {}},
        {L"0x12", {}},
        {L"g0", {}},
        {L"@", {}},                    // neighbours of the digit ranges
        {L"`", {}},
        {L"/", {}},
        {L":", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(HexDecode(c.text), c.bytes) << "'" << c.text << "'";
}
}  // namespace
