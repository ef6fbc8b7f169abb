// Stand-in for the product's language library R7Glossa_WRZ.dll, for building
// and testing the updater without the token software installed. It knows the
// texts of the section COMMON_INFO in the languages of texts/ and answers in
// English where a language or a key is missing.
#include <windows.h>

#include "TextTable.h"

namespace {
constexpr unsigned kFallbackLanguage = 1033;
unsigned selectedLanguage = kFallbackLanguage;  // set by Glossa_Param, per loaded copy

const wchar_t* FindText(unsigned language, const wchar_t* key)
{
    for (unsigned i = 0; i < kLanguageTextCount; ++i)
        if (kLanguageTexts[i].language == language && lstrcmpW(kLanguageTexts[i].key, key) == 0)
            return kLanguageTexts[i].text;
    return nullptr;
}
}  // namespace

// Chooses the language of the following text requests. The second argument
// is accepted and not used.
extern "C" __declspec(dllexport) int WINAPI Glossa_Param(unsigned int* languageId, int)
{
    if (!languageId) return 0;
    selectedLanguage = *languageId;
    return 1;
}

// Writes the text for key into buffer as a NUL-terminated string, cut to
// capacity characters with the NUL included; an unknown section or key gives
// the empty text. Returns the number of characters written before the NUL.
extern "C" __declspec(dllexport) int WINAPI Glossa_MLGetText(const wchar_t* section, const wchar_t* key,
                                                             wchar_t* buffer, int capacity)
{
    if (!buffer || capacity <= 0) return 0;
    const wchar_t* text = nullptr;
    if (section && key && lstrcmpW(section, L"COMMON_INFO") == 0) {
        text = FindText(selectedLanguage, key);
        if (!text) text = FindText(kFallbackLanguage, key);
    }
    int length = 0;
    if (text)
        while (length < capacity - 1 && text[length] != L'\0') {
            buffer[length] = text[length];
            ++length;
        }
    buffer[length] = L'\0';
    return length;
}
