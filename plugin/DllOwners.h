#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "ProcessStatus.h"

// One process as a snapshot saw it.
struct ProcessRecord {
    DWORD processId = 0;
    // Distinct base names of its loaded modules (compared case-sensitively),
    // in the order the system lists them. Empty when the process could not be
    // opened or its modules could not be listed.
    std::vector<std::wstring> moduleNames;
};

using ProcessSnapshot = std::vector<ProcessRecord>;

// Every process and every one of its modules, however many there are. Empty
// when the processes cannot be listed.
ProcessSnapshot TakeProcessSnapshot(const PsapiFunctions& psapi);

// Identifiers of the processes that have a module whose base name equals
// dllName with 'a'..'z' folded, each once, in snapshot order.
std::vector<DWORD> GetDllOwnerList(const ProcessSnapshot& snapshot, const wchar_t* dllName);

// Full image paths of those processes, one per owner and in the same order;
// an owner that has ended in the meantime gives an empty path.
std::vector<std::wstring> GetDllOwnerNameList(const PsapiFunctions& psapi, const ProcessSnapshot& snapshot,
                                              const wchar_t* dllName);

// The full path of the process's executable, or the empty text.
std::wstring GetProcessName(const PsapiFunctions& psapi, DWORD processId);
