#include "ProcessStatus.h"

namespace {
// No system runs anywhere near this many processes or modules; the limit only
// keeps a misbehaving enumerator from growing the array for ever.
constexpr std::size_t kMostEntries = 1u << 20;
constexpr int kModuleListAttempts = 8;
}

bool BindPsapi(BoundPsapi& bound)
{
    bound.library = LoadSystemLibrary(L"PSAPI.DLL");
    PsapiFunctions& f = bound.functions;
    f.enumProcesses = bound.library.Find<PsapiFunctions::EnumProcessesFunction>("EnumProcesses");
    f.enumProcessModules = bound.library.Find<PsapiFunctions::EnumProcessModulesFunction>("EnumProcessModules");
    f.getModuleBaseName = bound.library.Find<PsapiFunctions::GetModuleNameFunction>("GetModuleBaseNameW");
    f.getModuleFileNameEx = bound.library.Find<PsapiFunctions::GetModuleNameFunction>("GetModuleFileNameExW");
    if (f.enumProcesses && f.enumProcessModules && f.getModuleBaseName && f.getModuleFileNameEx) return true;
    bound.functions = PsapiFunctions();
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

bool ListProcessModules(PsapiFunctions::EnumProcessModulesFunction enumProcessModules, HANDLE process,
                        std::vector<HMODULE>& modules)
{
    modules.assign(128, nullptr);
    // The process may load modules between two calls; ask again with the size
    // it reported until the list fits.
    for (int attempt = 0; attempt < kModuleListAttempts; ++attempt) {
        DWORD bytesNeeded = 0;
        const DWORD bytes = static_cast<DWORD>(modules.size() * sizeof(HMODULE));
        if (!enumProcessModules(process, modules.data(), bytes, &bytesNeeded)) break;
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
