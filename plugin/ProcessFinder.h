#pragma once
#include <windows.h>

#include <string>

#include "ProcessStatus.h"

// Answers of FindProcessByName, written to $R0 as decimal text.
enum FindProcResult : int {
    kProcessFound = 1,
    kProcessNotFound = 0,
    kSearchUnavailable = 605,  // a library, function, list or snapshot could not be had
    kVersionUnreadable = 606,
    kPlatformUnknown = 607,    // neither the NT nor the 9x family
    kNameRejected = 632,       // empty, or longer than kLongestProcessName
};

constexpr int kLongestProcessName = 260;

// Tells whether a process with the executable base name runs. The platform
// family picks the method: the NT family compares every process's executable
// name, upper-cased; the 9x family compares the name of every module of every
// process, as the system stores it, with the upper-cased argument.
int FindProcessByName(const wchar_t* name);
int FindProcessByName(const wchar_t* name, DWORD platformId);

// The NT-family method over the given process-status functions, so that a
// failing enumerator can be handed in.
int FindExecutableByName(const PsapiFunctions& psapi, const std::wstring& upperName);

// Upper-cases each code unit by itself, the way the search compares names.
std::wstring UpperCaseName(const wchar_t* name);

// The part of a path after its last backslash.
const wchar_t* BaseName(const wchar_t* path);
