#include <gtest/gtest.h>

#include "VersionWord.h"

namespace {
TEST(VersionWord, WholeTable)
{
    struct Case { unsigned long platform, major, minor; const wchar_t* word; };
    const Case cases[] = {
        {2, 0, 0, L"98"},      {2, 3, 51, L"98"},     {2, 4, 0, L"98"},      {2, 4, 90, L"98"},
        {2, 5, 0, L"2K"},      {2, 5, 1, L"XP"},      {2, 5, 2, L"2003"},    {2, 5, 3, L"unknown"},
        {2, 5, 99, L"unknown"}, {2, 6, 0, L"Vista"},  {2, 6, 1, L"Vista"},   {2, 6, 2, L"Vista"},
        {2, 6, 3, L"Vista"},   {2, 7, 0, L"Win7"},    {2, 10, 0, L"Win7"},   {2, 0xFFFFFFFF, 0, L"Win7"},
        {1, 4, 10, L"unknown"}, {1, 5, 1, L"unknown"}, {0, 3, 1, L"unknown"}, {3, 6, 1, L"unknown"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(VersionWord(c.platform, c.major, c.minor), c.word)
            << c.platform << " " << c.major << "." << c.minor;
}
}  // namespace
