#include "RegistryData.h"

DWORD ParseDecimal(const std::wstring& text)
{
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == L'-';
    if (negative) ++i;
    DWORD value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) value = value * 10 + (text[i] - L'0');
    return negative ? 0u - value : value;
}

namespace {
int HexDigit(wchar_t c)
{
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    return -1;
}
}  // namespace

std::vector<BYTE> HexDecode(const std::wstring& text)
{
    std::vector<BYTE> bytes((text.size() + 1) / 2, 0);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int digit = HexDigit(text[i]);
        if (digit < 0) return {};
        if (i % 2 == 0) bytes[i / 2] = static_cast<BYTE>(digit << 4);
        else bytes[i / 2] = static_cast<BYTE>(bytes[i / 2] + digit);
    }
    return bytes;
}
