#pragma once
#include <string>

// Full path of a file that the build puts beside the test programs.
std::wstring BesideTests(const wchar_t* fileName);

// Value of an environment variable, or the empty text.
std::wstring Environment(const wchar_t* name);
