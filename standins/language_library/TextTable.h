#pragma once

// One text of the stand-in library: language identifier, key, wording.
struct LanguageText {
    unsigned language;
    const wchar_t* key;
    const wchar_t* text;
};

extern const LanguageText kLanguageTexts[];
extern const unsigned kLanguageTextCount;
