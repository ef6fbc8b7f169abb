// DeleteRegKey and DeleteRegValue: one key or value out of the 64-bit view,
// the 32-bit view or both, answered in $R0 with "1" or "0". Keys are never
// deleted recursively; "/ifempty" turns the registry's refusal to delete a key
// with sub-keys into a success.
#include "CallFrame.h"
#include "LoadedLibrary.h"
#include "Privileges.h"
#include "RegistryKey.h"
#include "RegistryStackArguments.h"
#include "RegistryViews.h"
#include "Wow64.h"

namespace {
// Keeps count unchanged when the key does not open: the count may still hold
// what the other view found.
void CountSubKeys(HKEY parent, const std::wstring& subKey, REGSAM access, DWORD& count)
{
    RegistryKey key;
    if (RegOpenKeyExW(parent, subKey.c_str(), 0, access, key.put()) != ERROR_SUCCESS) return;
    DWORD subKeys = 0;
    if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr) == ERROR_SUCCESS)
        count = subKeys;
}

// RegDeleteKeyExW does not exist before 64-bit Windows XP, so it is looked up
// by name, in the advapi32 the plug-in imports and so has loaded already.
// Loading advapi32 by its path instead would fail while the script has
// turned file-system redirection off (the path then names the 64-bit
// system's DLL), and the delete would be skipped unseen. Without the function
// there is no second view to delete from, which counts as done.
LONG DeleteKeyIn64BitView(HKEY root, const std::wstring& subKey)
{
    using RegDeleteKeyExFunction = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
    const auto deleteKeyEx = FindExport<RegDeleteKeyExFunction>(GetModuleHandleW(L"advapi32"), "RegDeleteKeyExW");
    if (!deleteKeyEx) return ERROR_SUCCESS;
    return deleteKeyEx(root, subKey.c_str(), KEY_WOW64_64KEY, 0);
}

// A 32-bit process reaches the 32-bit view through the root opened in it. A
// key handle does not carry its view to the keys named below it, though:
// RegDeleteKeyW deletes in the view of the calling process, and a 64-bit
// process must name the view in the delete itself. Every 64-bit Windows has
// RegDeleteKeyExW.
LONG DeleteKeyIn32BitView(HKEY root, HKEY rootIn32BitView, const std::wstring& subKey)
{
    if constexpr (sizeof(void*) == 4) {
        return RegDeleteKeyW(rootIn32BitView, subKey.c_str());
    } else {
        return RegDeleteKeyExW(root, subKey.c_str(), KEY_WOW64_32KEY, 0);
    }
}
}  // namespace

NSIS_PLUGIN_EXPORT(DeleteRegKey)
{
    EnableDebugPrivilege();
    RegistryRequest request;
    if (!ReadRegistryArgumentsFromStack(RegistryExport::DeleteKey, request)) return;

    // Shared by both steps: a count from the 64-bit view still holds in the
    // 32-bit step when the key does not open there.
    DWORD subKeyCount = 0;

    if (request.want64 && Is64BitWindows()) {
        RegistryKey root;
        if (RegOpenKeyExW(request.root, nullptr, 0, kAccess64BitView, root.put()) != ERROR_SUCCESS)
            DebugLog(L"64bit  Reg open ERROR");
        if (request.ifEmpty && root) CountSubKeys(root.get(), request.subKey, kAccess64BitView, subKeyCount);
        // Tried even when sub-keys were counted; the registry's refusal is
        // then the expected answer and is ignored.
        const LONG status = DeleteKeyIn64BitView(request.root, request.subKey);
        if (subKeyCount == 0 && status != ERROR_SUCCESS) {
            SetResult(L"0");
            DebugLog(L"64bit  Reg del ERROR");
            return;
        }
    }

    if (request.want32) {
        RegistryKey root;
        if (RegOpenKeyExW(request.root, nullptr, 0, kAccess32BitView, root.put()) != ERROR_SUCCESS)
            DebugLog(L"32 bit Reg open ERROR");
        if (request.ifEmpty && root) CountSubKeys(root.get(), request.subKey, kAccess32BitView, subKeyCount);
        DebugLog(L"RegDeleteKey 32 BIt ");
        if (subKeyCount == 0 &&
            (!root || DeleteKeyIn32BitView(request.root, root.get(), request.subKey) != ERROR_SUCCESS)) {
            SetResult(L"0");
            return;
        }
    }

    SetResult(L"1");
}

NSIS_PLUGIN_EXPORT(DeleteRegValue)
{
    EnableDebugPrivilege();
    RegistryRequest request;
    if (!ReadRegistryArgumentsFromStack(RegistryExport::DeleteValue, request)) return;

    if (request.want64 && Is64BitWindows()) {
        DebugLog(L"RegOpenKeyEx 64");
        DebugLog(request.valueName.c_str());
        RegistryKey key;
        if (RegOpenKeyExW(request.root, request.subKey.c_str(), 0, kAccess64BitView, key.put()) != ERROR_SUCCESS)
            DebugLog(L"64bit  Reg open ERROR");
        DebugLog(L"64 Value");
        if (!key || RegDeleteValueW(key.get(), request.valueName.c_str()) != ERROR_SUCCESS) {
            SetResult(L"0");
            DebugLog(L"64bit  Reg del ERROR");
            return;
        }
    }

    if (request.want32) {
        RegistryKey key;
        if (RegOpenKeyExW(request.root, request.subKey.c_str(), 0, kAccess32BitView, key.put()) != ERROR_SUCCESS)
            DebugLog(L"32 bit Reg open ERROR");
        DebugLog(L"32 bit Value");
        if (!key || RegDeleteValueW(key.get(), request.valueName.c_str()) != ERROR_SUCCESS) {
            SetResult(L"0");
            return;
        }
    }

    SetResult(L"1");
}
