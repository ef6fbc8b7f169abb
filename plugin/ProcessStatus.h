#pragma once
#include <windows.h>

#include <vector>

#include "LoadedLibrary.h"

// The process-status functions (PSAPI) that the process queries use, looked
// up by name at the time of the call: Windows 7 moved them into kernel32
// under K32 names, and importing those would keep the whole plug-in from
// loading on older systems.
//
// Modules are listed with EnumProcessModulesEx: a 64-bit process that asks
// for a 32-bit process's modules without LIST_MODULES_ALL gets only the few
// 64-bit ones that run WOW64 there, none of the program's own DLLs. A 32-bit
// process gets the same list either way.
struct PsapiFunctions {
    using EnumProcessesFunction = BOOL(WINAPI*)(DWORD* ids, DWORD bytes, DWORD* bytesReturned);
    using EnumProcessModulesExFunction = BOOL(WINAPI*)(HANDLE process, HMODULE* modules, DWORD bytes,
                                                       DWORD* bytesNeeded, DWORD filter);
    using GetModuleNameFunction = DWORD(WINAPI*)(HANDLE process, HMODULE module, wchar_t* name, DWORD size);

    EnumProcessesFunction enumProcesses = nullptr;
    EnumProcessModulesExFunction enumProcessModulesEx = nullptr;
    GetModuleNameFunction getModuleBaseName = nullptr;
    GetModuleNameFunction getModuleFileNameEx = nullptr;
};

// The functions, and psapi.dll when they had to come from there; valid while
// this object lives.
struct BoundPsapi {
    LoadedLibrary library;  // empty when kernel32 has them
    PsapiFunctions functions;
};

// Takes the functions from the kernel32 every process has loaded (Windows 7
// and later); where they are missing there, loads psapi.dll from the system
// directory. False when any function is missing; nothing is left loaded then.
bool BindPsapi(BoundPsapi& bound);

// Lists every process identifier. EnumProcesses fills whatever room it is
// given and says nothing of the rest, so the array grows until the list comes
// back shorter than the room. False when the call fails.
bool ListProcessIds(PsapiFunctions::EnumProcessesFunction enumProcesses, std::vector<DWORD>& ids);

// Lists every module of an open process, 32-bit and 64-bit ones alike
// (LIST_MODULES_ALL), growing the array to the size the system asks for.
// False when the modules cannot be listed.
bool ListProcessModules(PsapiFunctions::EnumProcessModulesExFunction enumProcessModulesEx, HANDLE process,
                        std::vector<HMODULE>& modules);
