#include "StatusTextCache.h"

#include <windows.h>

const std::wstring& StatusTextCache::TextFor(std::uint32_t statusCode)
{
    if (known_ && statusCode == statusCode_) return text_;
    // "StatusCode" and an unsigned 32-bit number in decimal fit with room to spare.
    wchar_t key[32];
    wsprintfW(key, L"StatusCode%u", static_cast<unsigned>(statusCode));
    text_ = texts_.GetText(key);
    statusCode_ = statusCode;
    known_ = true;
    return text_;
}

void StatusTextCache::Forget()
{
    known_ = false;
    text_.clear();
}
