#include "DllOwners.h"

#include <algorithm>

#include "CallFrame.h"
#include "EqualsNoCase.h"
#include "UniqueHandle.h"

namespace {
// All access rights of a process object as Windows defined them before Vista;
// the newer, larger mask is refused by older systems.
constexpr DWORD kProcessAllAccessBeforeVista = 0x001F0FFF;
constexpr DWORD kNameUnits = 260;

std::vector<std::wstring> ReadModuleNames(const PsapiFunctions& psapi, DWORD processId)
{
    std::vector<std::wstring> names;
    UniqueHandle process(OpenProcess(kProcessAllAccessBeforeVista, FALSE, processId));
    std::vector<HMODULE> modules;
    if (!process || !ListProcessModules(psapi.enumProcessModulesEx, process.get(), modules)) return names;
    for (HMODULE module : modules) {
        wchar_t name[kNameUnits] = {};
        if (psapi.getModuleBaseName(process.get(), module, name, kNameUnits) == 0) continue;
        // A DLL loaded from two folders under one name counts once.
        if (std::find(names.begin(), names.end(), name) == names.end()) names.emplace_back(name);
    }
    return names;
}
}  // namespace

ProcessSnapshot TakeProcessSnapshot(const PsapiFunctions& psapi)
{
    ProcessSnapshot snapshot;
    std::vector<DWORD> ids;
    if (!ListProcessIds(psapi.enumProcesses, ids)) return snapshot;
    snapshot.reserve(ids.size());
    for (DWORD processId : ids) snapshot.push_back(ProcessRecord{processId, ReadModuleNames(psapi, processId)});
    return snapshot;
}

std::vector<DWORD> GetDllOwnerList(const ProcessSnapshot& snapshot, const wchar_t* dllName)
{
    DebugLog(L"In GetDllOwnerList");
    std::vector<DWORD> owners;
    for (const ProcessRecord& record : snapshot) {
        for (const std::wstring& moduleName : record.moduleNames) {
            if (EqualsNoCase(moduleName.c_str(), dllName) &&
                std::find(owners.begin(), owners.end(), record.processId) == owners.end())
                owners.push_back(record.processId);
        }
    }
    return owners;
}

std::vector<std::wstring> GetDllOwnerNameList(const PsapiFunctions& psapi, const ProcessSnapshot& snapshot,
                                              const wchar_t* dllName)
{
    DebugLog(L"In GetDllOwnerNameList");
    std::vector<std::wstring> paths;
    for (DWORD processId : GetDllOwnerList(snapshot, dllName)) {
        paths.push_back(GetProcessName(psapi, processId));
        DebugLog(paths.back().c_str());
    }
    return paths;
}

std::wstring GetProcessName(const PsapiFunctions& psapi, DWORD processId)
{
    DebugLog(L"GetProcessName");
    wchar_t path[kNameUnits] = {};
    DebugLog(path);
    UniqueHandle process(OpenProcess(kProcessAllAccessBeforeVista, FALSE, processId));
    if (!process || psapi.getModuleFileNameEx(process.get(), nullptr, path, kNameUnits) == 0) path[0] = L'\0';
    path[kNameUnits - 1] = L'\0';  // older systems leave a cut path unterminated
    DebugLog(path);
    return path;
}
