#include "RegistryData.h"

#include "HexDigit.h"

DWORD ParseDecimal(const std::wstring& text)
{
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == L'-';
    if (negative) ++i;
    DWORD value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) value = value * 10 + (text[i] - L'0');
    return negative ? 0u - value : value;
}

std::vector<BYTE> HexDecode(const std::wstring& text)
{
    std::vector<BYTE> bytes((text.size() + 1) / 2, 0);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int digit = HexDigitValue(text[i]);
        if (digit < 0) return {};
        if (i % 2 == 0) bytes[i / 2] = static_cast<BYTE>(digit << 4);
        else bytes[i / 2] = static_cast<BYTE>(bytes[i / 2] + digit);
    }
    return bytes;
}
