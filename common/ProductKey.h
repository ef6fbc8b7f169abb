#pragma once
#include <windows.h>

// The key the product's installation fills in. 32-bit processes open it
// without a view flag, so on 64-bit Windows it lives in the 32-bit view.
constexpr const wchar_t* kProductKeyPath = L"Software\\Orvanta\\58P7M_WRZ";

// The view flag that reaches the product key from this kind of process: none
// in a 32-bit process, which reads the 32-bit view anyway, and the 32-bit
// view's in a 64-bit one (the 64-bit Plugin.dll), which would otherwise read
// the 64-bit view, where the product keeps nothing.
constexpr REGSAM kProductKeyView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : 0;
