#include "VersionWord.h"

namespace {
constexpr unsigned long kPlatformNt = 2;
}

const wchar_t* VersionWord(unsigned long platformId, unsigned long major, unsigned long minor)
{
    if (platformId != kPlatformNt) return L"unknown";
    if (major <= 4) return L"98";
    if (major == 5) {
        switch (minor) {
        case 0: return L"2K";
        case 1: return L"XP";
        case 2: return L"2003";
        default: return L"unknown";
        }
    }
    if (major == 6) return L"Vista";
    return L"Win7";
}
