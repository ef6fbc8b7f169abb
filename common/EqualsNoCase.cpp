#include "EqualsNoCase.h"

namespace {
wchar_t FoldAsciiLower(wchar_t c)
{
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 0x20) : c;
}
}

bool EqualsNoCase(const wchar_t* a, const wchar_t* b)
{
    for (;; ++a, ++b) {
        if (FoldAsciiLower(*a) != FoldAsciiLower(*b)) return false;
        if (*a == L'\0') return true;
    }
}
