#pragma once
#include <windows.h>

#include <string>
#include <vector>

// What the Retry/Cancel prompt shows besides the owners.
struct PromptTexts {
    std::wstring caption;
    std::wstring leadIn;  // empty when the product or its language file cannot be read
};

// The caption "WRZ" and the lead-in text from the product's language file for
// the system's default language.
PromptTexts LoadPromptTexts();

// installPath\langs\<language>.ini
std::wstring LanguageFilePath(const std::wstring& installPath, WORD languageId);

// The lead-in, a blank line, then one owner path per line.
std::wstring BuildOwnerMessage(const std::wstring& leadIn, const std::vector<std::wstring>& ownerPaths);
