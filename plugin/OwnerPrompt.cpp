#include "OwnerPrompt.h"

#include "ProductKey.h"
#include "RegistryKey.h"

namespace {
constexpr DWORD kTextUnits = 260;

// InstallPath as stored, or the empty text. A value that does not fit the
// buffer with its terminator counts as missing rather than being cut to some
// other directory.
std::wstring ReadInstallPath(HKEY productKey)
{
    wchar_t path[kTextUnits] = {};
    DWORD bytes = sizeof(path);
    if (RegQueryValueExW(productKey, L"InstallPath", nullptr, nullptr, reinterpret_cast<BYTE*>(path), &bytes) !=
        ERROR_SUCCESS)
        return std::wstring();
    // Data that fill the buffer without a terminator are a value too long as well.
    const std::size_t units = bytes / sizeof(wchar_t);
    if (units == kTextUnits && path[kTextUnits - 1] != L'\0') return std::wstring();
    path[kTextUnits - 1] = L'\0';
    return path;
}
}  // namespace

std::wstring LanguageFilePath(const std::wstring& installPath, WORD languageId)
{
    return installPath + L"\\langs\\" + std::to_wstring(languageId) + L".ini";
}

std::wstring BuildOwnerMessage(const std::wstring& leadIn, const std::vector<std::wstring>& ownerPaths)
{
    std::wstring message = leadIn + L"\n\n";
    for (const std::wstring& path : ownerPaths) message += path + L"\n";
    return message;
}

PromptTexts LoadPromptTexts()
{
    PromptTexts texts;
    texts.caption = L"WRZ";
    RegistryKey productKey;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, KEY_QUERY_VALUE | kProductKeyView, productKey.put()) !=
        ERROR_SUCCESS)
        return texts;
    const WORD languageId = GetSystemDefaultLangID();
    const std::wstring languageFile = LanguageFilePath(ReadInstallPath(productKey.get()), languageId);
    wchar_t leadIn[kTextUnits] = {};
    GetPrivateProfileStringW(L"TEXT", L"UPDATE_INSTALL_TITLE", L"", leadIn, kTextUnits, languageFile.c_str());
    texts.leadIn = leadIn;
    return texts;
}
