#include "ProcessFinder.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <vector>

#include "UniqueHandle.h"

namespace {
// The Unicode entries of Tool Help as a 32-bit process fills them; a 64-bit
// one has pointer-sized fields in them, and its own sizes.
static_assert(sizeof(PROCESSENTRY32W) == (sizeof(void*) == 4 ? 556 : 568), "the Unicode process entry of Tool Help");
static_assert(sizeof(MODULEENTRY32W) == (sizeof(void*) == 4 ? 1064 : 1080), "the Unicode module entry of Tool Help");

constexpr DWORD kNameBufferUnits = 260;

using QueryFullProcessImageNameFunction = BOOL(WINAPI*)(HANDLE process, DWORD flags, wchar_t* path, DWORD* size);

// Reads the executable's base name by its full image path. This works across
// bitness: a 32-bit process cannot list the modules of a 64-bit one, so the
// module listing alone never sees a 64-bit program on 64-bit Windows.
bool ReadNameByImagePath(QueryFullProcessImageNameFunction queryImageName, DWORD processId,
                         wchar_t (&name)[kNameBufferUnits])
{
    if (!queryImageName) return false;
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process) return false;
    wchar_t path[1024];
    DWORD size = 1024;
    if (!queryImageName(process.get(), 0, path, &size)) return false;
    const wchar_t* baseName = BaseName(path);
    // A name that does not fit is never compared cut short.
    if (lstrlenW(baseName) >= static_cast<int>(kNameBufferUnits)) return false;
    lstrcpyW(name, baseName);
    return true;
}

// Reads the base name of the process's first module, its executable. Systems
// without QueryFullProcessImageNameW (before Vista) run no 64-bit programs
// beside a 32-bit installer that this could miss. The default list of a
// process of either kind begins with its executable.
bool ReadNameByFirstModule(const PsapiFunctions& psapi, DWORD processId, wchar_t (&name)[kNameBufferUnits])
{
    UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    if (!process) return false;
    HMODULE executable = nullptr;
    DWORD bytesNeeded = 0;
    if (!psapi.enumProcessModulesEx(process.get(), &executable, sizeof(executable), &bytesNeeded, LIST_MODULES_DEFAULT))
        return false;
    return psapi.getModuleBaseName(process.get(), executable, name, kNameBufferUnits) != 0;
}

// The 9x family's method: every module of every process, names as stored.
int SearchModulesWithToolHelp(const std::wstring& upperName)
{
    using CreateSnapshotFunction = HANDLE(WINAPI*)(DWORD flags, DWORD processId);
    using ProcessWalkFunction = BOOL(WINAPI*)(HANDLE snapshot, PROCESSENTRY32W* entry);
    using ModuleWalkFunction = BOOL(WINAPI*)(HANDLE snapshot, MODULEENTRY32W* entry);

    // kernel32 is loaded in every process: looked up there, nothing is loaded.
    const HMODULE kernel = GetModuleHandleW(L"kernel32");
    const auto createSnapshot = FindExport<CreateSnapshotFunction>(kernel, "CreateToolhelp32Snapshot");
    // The unsuffixed names are the ANSI entry points, which fill 8-bit names
    // into a smaller layout: read as UTF-16 those names never match. The
    // Unicode entries need the W functions.
    const auto process32First = FindExport<ProcessWalkFunction>(kernel, "Process32FirstW");
    const auto process32Next = FindExport<ProcessWalkFunction>(kernel, "Process32NextW");
    const auto module32First = FindExport<ModuleWalkFunction>(kernel, "Module32FirstW");
    const auto module32Next = FindExport<ModuleWalkFunction>(kernel, "Module32NextW");
    if (!createSnapshot || !process32First || !process32Next || !module32First || !module32Next)
        return kSearchUnavailable;

    UniqueHandle processes(createSnapshot(TH32CS_SNAPPROCESS, 0));
    if (!processes) return kSearchUnavailable;

    PROCESSENTRY32W process = {};
    process.dwSize = sizeof(process);
    for (BOOL more = process32First(processes.get(), &process); more;
         process.dwSize = sizeof(process), more = process32Next(processes.get(), &process)) {
        UniqueHandle modules(createSnapshot(TH32CS_SNAPMODULE, process.th32ProcessID));
        // A process that ended since the process snapshot, or one whose modules
        // this process may not list, holds nothing to compare: it is passed
        // over instead of failing the whole search.
        if (!modules) continue;
        MODULEENTRY32W module = {};
        module.dwSize = sizeof(module);
        for (BOOL found = module32First(modules.get(), &module); found;
             module.dwSize = sizeof(module), found = module32Next(modules.get(), &module)) {
            if (lstrcmpW(module.szModule, upperName.c_str()) == 0) return kProcessFound;
        }
    }
    return kProcessNotFound;
}
bool IsSearchableName(const wchar_t* name)
{
    const int length = lstrlenW(name);
    return length >= 1 && length <= kLongestProcessName;
}
}  // namespace

std::wstring UpperCaseName(const wchar_t* name)
{
    std::wstring upper(name);
    for (wchar_t& unit : upper) {
        // The single-character form: the unit travels in the pointer's low word.
        const auto folded = reinterpret_cast<ULONG_PTR>(CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(unit))));
        unit = static_cast<wchar_t>(LOWORD(folded));
    }
    return upper;
}

const wchar_t* BaseName(const wchar_t* path)
{
    const wchar_t* base = path;
    for (const wchar_t* p = path; *p; ++p)
        if (*p == L'\\') base = p + 1;
    return base;
}

int FindExecutableByName(const PsapiFunctions& psapi, const std::wstring& upperName)
{
    const auto queryImageName =
        FindExport<QueryFullProcessImageNameFunction>(GetModuleHandleW(L"kernel32"), "QueryFullProcessImageNameW");

    std::vector<DWORD> ids;
    if (!ListProcessIds(psapi.enumProcesses, ids)) return kSearchUnavailable;
    for (DWORD processId : ids) {
        wchar_t name[kNameBufferUnits] = {};
        // A process whose name cannot be read (another user's, a protected
        // one, one that has just ended) is passed over: it has no name to match.
        if (!ReadNameByImagePath(queryImageName, processId, name) && !ReadNameByFirstModule(psapi, processId, name))
            continue;
        CharUpperW(name);
        if (lstrcmpW(name, upperName.c_str()) == 0) return kProcessFound;
    }
    return kProcessNotFound;
}

int FindProcessByName(const wchar_t* name, DWORD platformId)
{
    if (!IsSearchableName(name)) return kNameRejected;
    const std::wstring upperName = UpperCaseName(name);

    if (platformId == VER_PLATFORM_WIN32_NT) {
        BoundPsapi psapi;
        if (!BindPsapi(psapi)) return kSearchUnavailable;
        return FindExecutableByName(psapi.functions, upperName);
    }
    if (platformId == VER_PLATFORM_WIN32_WINDOWS) return SearchModulesWithToolHelp(upperName);
    return kPlatformUnknown;
}

int FindProcessByName(const wchar_t* name)
{
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    // The name is judged before the version, whatever the version.
    if (!GetVersionExW(&version)) return IsSearchableName(name) ? kVersionUnreadable : kNameRejected;
    return FindProcessByName(name, version.dwPlatformId);
}
