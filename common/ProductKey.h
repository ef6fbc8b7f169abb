#pragma once

// The key the product's installation fills in. 32-bit processes open it
// without a view flag, so on 64-bit Windows it lives in the 32-bit view.
constexpr const wchar_t* kProductKeyPath = L"Software\\Orvanta\\58P7M_WRZ";
