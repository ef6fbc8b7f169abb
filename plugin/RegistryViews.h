#pragma once
#include <windows.h>

// Every key the registry exports open or create gets full access in exactly
// one view; a 32-bit process would otherwise land in the 32-bit view only.
constexpr REGSAM kAccess64BitView = KEY_ALL_ACCESS | KEY_WOW64_64KEY;  // 0xF013F
constexpr REGSAM kAccess32BitView = KEY_ALL_ACCESS | KEY_WOW64_32KEY;  // 0xF023F
