#include "LanguageSetting.h"

#include <windows.h>

#include "ProductKey.h"
#include "RegistryKey.h"

namespace {
constexpr const wchar_t* kLangIdValue = L"LangId";

// 0 unless the value is a REG_DWORD of exactly four bytes.
std::uint32_t ReadLangId(const RegistryKey& key)
{
    if (!key) return 0;
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegQueryValueExW(key.get(), kLangIdValue, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(value))
        return 0;
    return value;
}

RegistryKey OpenProductKey(HKEY root, REGSAM access)
{
    RegistryKey key;
    RegCreateKeyExW(root, kProductKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, key.put(), nullptr);
    return key;
}
}  // namespace

std::uint32_t ResolveLanguageId()
{
    const RegistryKey userKey = OpenProductKey(HKEY_CURRENT_USER, KEY_WRITE | KEY_QUERY_VALUE);
    const std::uint32_t user = ReadLangId(userKey);
    if (user != 0) return user;

    const std::uint32_t machine = ReadLangId(OpenProductKey(HKEY_LOCAL_MACHINE, KEY_QUERY_VALUE));
    const DWORD chosen = ChooseLanguageId(0, machine);
    if (userKey)
        RegSetValueExW(userKey.get(), kLangIdValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&chosen),
                       sizeof(chosen));
    return chosen;
}
