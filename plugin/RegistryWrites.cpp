// WriteRegStr, WriteRegDWORD, WriteRegBin: one value into the 32-bit view,
// the 64-bit view or both. Only the parameter error reaches $R0; everything
// else is told on the debugger channel.
#include "CallFrame.h"
#include "Privileges.h"
#include "RegistryData.h"
#include "RegistryKey.h"
#include "RegistryStackArguments.h"
#include "RegistryViews.h"

#include <vector>

namespace {
enum class ValueKind { Dword = 0, String = 1, Binary = 2 };

struct ValueBytes {
    DWORD type;
    std::vector<BYTE> bytes;
};

ValueBytes BuildValueBytes(ValueKind kind, const std::wstring& data)
{
    switch (kind) {
    case ValueKind::Dword: {
        const DWORD value = ParseDecimal(data);
        const BYTE* first = reinterpret_cast<const BYTE*>(&value);  // x86: little-endian already
        return {REG_DWORD, std::vector<BYTE>(first, first + sizeof(value))};
    }
    case ValueKind::String: {
        const BYTE* first = reinterpret_cast<const BYTE*>(data.c_str());
        return {REG_SZ, std::vector<BYTE>(first, first + (data.size() + 1) * sizeof(wchar_t))};
    }
    case ValueKind::Binary:
        break;
    }
    return {REG_BINARY, HexDecode(data)};
}

// False when the key could not be created: the call then ends, and a view
// still to come is left alone.
bool WriteInView(const RegistryRequest& request, ValueKind kind, REGSAM access)
{
    RegistryKey key;
    if (RegCreateKeyExW(request.root, request.subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                        nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
        DebugLog(L"Reg Create ERROR");
        return false;
    }
    DebugLog(request.subKey.c_str());
    const ValueBytes value = BuildValueBytes(kind, request.data);
    if (RegSetValueExW(key.get(), request.valueName.c_str(), 0, value.type, value.bytes.data(),
                       static_cast<DWORD>(value.bytes.size())) != ERROR_SUCCESS)
        DebugLog(L"Could not set the Key Value.");
    return true;
}

void WriteRegistryValue(ValueKind kind)
{
    EnableDebugPrivilege();
    RegistryRequest request;
    if (!ReadRegistryArgumentsFromStack(RegistryExport::WriteValue, request)) return;
    if (request.want32 && !WriteInView(request, kind, kAccess32BitView)) return;
    if (request.want64) WriteInView(request, kind, kAccess64BitView);
}
}  // namespace

NSIS_PLUGIN_EXPORT(WriteRegDWORD)
{
    WriteRegistryValue(ValueKind::Dword);
}

NSIS_PLUGIN_EXPORT(WriteRegStr)
{
    WriteRegistryValue(ValueKind::String);
}

NSIS_PLUGIN_EXPORT(WriteRegBin)
{
    WriteRegistryValue(ValueKind::Binary);
}
