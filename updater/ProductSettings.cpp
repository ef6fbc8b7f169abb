#include "ProductSettings.h"

#include <windows.h>

#include "ProductKey.h"
#include "RegistryKey.h"

namespace {
RegistryKey OpenProductKeyForQuery()
{
    RegistryKey key;
    DWORD disposition = 0;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, nullptr, 0, KEY_QUERY_VALUE, nullptr, key.put(),
                    &disposition);
    return key;
}
}

std::uint32_t ReadProductDword(const wchar_t* name)
{
    const RegistryKey key = OpenProductKeyForQuery();
    if (!key) return 0;
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(value))
        return 0;
    return value;
}

std::wstring ReadProductString(const wchar_t* name)
{
    const RegistryKey key = OpenProductKeyForQuery();
    if (!key) return std::wstring();

    // The query is offered the buffer's full size: server addresses may be long.
    wchar_t buffer[kProductStringCapacity];
    DWORD type = 0;
    DWORD size = sizeof(buffer);
    if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return std::wstring();

    // Registry strings need not carry their terminator. A value that fills the
    // whole buffer without one has no room left for it and counts as too long.
    const std::size_t units = size / sizeof(wchar_t);
    if (units == kProductStringCapacity && buffer[units - 1] != L'\0') return std::wstring();
    buffer[units < kProductStringCapacity ? units : kProductStringCapacity - 1] = L'\0';
    return std::wstring(buffer);  // up to the first null unit
}
