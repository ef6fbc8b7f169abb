#pragma once
#include <string>

// Full path of a file that the build puts beside the test programs.
std::wstring BesideTests(const wchar_t* fileName);

// Full path of a file beside the 32-bit test programs: BesideTests in the
// 32-bit build, the folder above this program's in the 64-bit build (whose
// tests lie in bin/amd64-unicode/). For the tests that need processes of
// the kind the 64-bit plug-in does not share.
std::wstring Beside32BitTests(const wchar_t* fileName);

// Value of an environment variable, or the empty text.
std::wstring Environment(const wchar_t* name);
