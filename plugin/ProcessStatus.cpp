#include "ProcessStatus.h"

#include <psapi.h>

namespace {
// No system runs anywhere near this many processes or modules; the limit only
// keeps a misbehaving enumerator from growing the array for ever.
constexpr std::size_t kMostEntries = 1u << 20;
constexpr int kModuleListAttempts = 8;

struct PsapiNames {
    const char* enumProcesses;
    const char* enumProcessModulesEx;
    const char* getModuleBaseName;
    const char* getModuleFileNameEx;
};
constexpr PsapiNames kKernel32Names = {"K32EnumProcesses", "K32EnumProcessModulesEx", "K32GetModuleBaseNameW",
                                       "K32GetModuleFileNameExW"};
constexpr PsapiNames kPsapiNames = {"EnumProcesses", "EnumProcessModulesEx", "GetModuleBaseNameW",
                                    "GetModuleFileNameExW"};

// False, with f emptied, unless module has all four.
bool FindPsapiFunctions(HMODULE module, const PsapiNames& names, PsapiFunctions& f)
{
    f.enumProcesses = FindExport<PsapiFunctions::EnumProcessesFunction>(module, names.enumProcesses);
    f.enumProcessModulesEx =
        FindExport<PsapiFunctions::EnumProcessModulesExFunction>(module, names.enumProcessModulesEx);
    f.getModuleBaseName = FindExport<PsapiFunctions::GetModuleNameFunction>(module, names.getModuleBaseName);
    f.getModuleFileNameEx = FindExport<PsapiFunctions::GetModuleNameFunction>(module, names.getModuleFileNameEx);
    if (f.enumProcesses && f.enumProcessModulesEx && f.getModuleBaseName && f.getModuleFileNameEx) return true;
    f = PsapiFunctions();
    return false;
}
}  // namespace

bool BindPsapi(BoundPsapi& bound)
{
    bound.library.reset();
    if (FindPsapiFunctions(GetModuleHandleW(L"kernel32"), kKernel32Names, bound.functions)) return true;
    bound.library = LoadSystemLibrary(L"PSAPI.DLL");
    if (FindPsapiFunctions(bound.library.get(), kPsapiNames, bound.functions)) return true;
    bound.library.reset();
    return false;
}

bool ListProcessIds(PsapiFunctions::EnumProcessesFunction enumProcesses, std::vector<DWORD>& ids)
{
    for (std::size_t capacity = 1024; capacity <= kMostEntries; capacity *= 2) {
        ids.assign(capacity, 0);
        DWORD bytesReturned = 0;
        const DWORD bytes = static_cast<DWORD>(capacity * sizeof(DWORD));
        if (!enumProcesses(ids.data(), bytes, &bytesReturned)) break;
        // A full array may have cut the list short; only a shorter one is whole.
        if (bytesReturned < bytes) {
            ids.resize(bytesReturned / sizeof(DWORD));
            return true;
        }
    }
    ids.clear();
    return false;
}

bool ListProcessModules(PsapiFunctions::EnumProcessModulesExFunction enumProcessModulesEx, HANDLE process,
                        std::vector<HMODULE>& modules)
{
    modules.assign(128, nullptr);
    // The process may load modules between two calls; ask again with the size
    // it reported until the list fits.
    for (int attempt = 0; attempt < kModuleListAttempts; ++attempt) {
        DWORD bytesNeeded = 0;
        const DWORD bytes = static_cast<DWORD>(modules.size() * sizeof(HMODULE));
        if (!enumProcessModulesEx(process, modules.data(), bytes, &bytesNeeded, LIST_MODULES_ALL)) break;
        if (bytesNeeded <= bytes) {
            modules.resize(bytesNeeded / sizeof(HMODULE));
            return true;
        }
        if (bytesNeeded / sizeof(HMODULE) > kMostEntries) break;
        modules.assign(bytesNeeded / sizeof(HMODULE) + 16, nullptr);
    }
    modules.clear();
    return false;
}
