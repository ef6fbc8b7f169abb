#include <gtest/gtest.h>

#include "UpdateDecision.h"

namespace {
TEST(DecideAfterVersionFile, Table)
{
    const std::wstring x64 = L"http://x64", x86 = L"http://x86";
    struct Case {
        std::uint32_t installed, latest;
        bool wow64;
        std::wstring current, fallback;
        NextStep expected;
    };
    const Case cases[] = {
        {0, 7, false, x86, x86, NextStep::FetchInstaller},          // nothing installed
        {6, 7, false, x86, x86, NextStep::FetchInstaller},
        {7, 7, false, x86, x86, NextStep::ShowUpToDate},            // equal is up to date
        {8, 7, false, x86, x86, NextStep::ShowUpToDate},
        {4294967295u, 4294967295u, true, x64, x86, NextStep::ShowUpToDate},  // unsigned: never below
        {2147483648u, 2147483647u, false, x86, x86, NextStep::ShowUpToDate},
        {2147483647u, 2147483648u, false, x86, x86, NextStep::FetchInstaller},
        {0, 0, false, x86, x86, NextStep::ShowUpToDate},            // unusable file, 32-bit Windows
        {5, 0, true, x64, x86, NextStep::FetchVersionFromFallback}, // 64-bit: once to the 32-bit address
        {5, 0, true, x86, x86, NextStep::ShowUpToDate},             // the fallback's file is unusable too
        {5, 0, true, x86 + L"/", x86, NextStep::FetchVersionFromFallback},
        {5, 0, true, L"", L"", NextStep::ShowUpToDate},             // same (empty) addresses
        {5, 9, true, x86, x86, NextStep::FetchInstaller},           // newer found at the fallback
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecideAfterVersionFile(c.installed, c.latest, c.wow64, c.current, c.fallback), c.expected)
            << c.installed << " vs " << c.latest << (c.wow64 ? " on 64-bit from " : " on 32-bit from ") << c.current;
}

TEST(ProgressPercent, TruePercentageClampedAndKeptForUnknownSize)
{
    struct Case { std::uint32_t progress, progressMax; int expected; };
    const Case cases[] = {
        {0, 1000, 0},     {249, 1000, 24},  {500, 1000, 50},   {999, 1000, 99},  {1000, 1000, 100},
        {2000, 1000, 100}, {5, 0, -1},      {0, 0, -1},
        {4294967295u, 4294967295u, 100},    {0, 4294967295u, 0},  {4294967295u, 1, 100},
        {2147483648u, 4294967295u, 50},     // 64-bit arithmetic: no overflow of progress x 100
    };
    for (const Case& c : cases)
        EXPECT_EQ(ProgressPercent(c.progress, c.progressMax), c.expected) << c.progress << "/" << c.progressMax;
}
}  // namespace
