#include "InstanceMutexName.h"

namespace {
constexpr const wchar_t* kProductId = L"299E7DB91AF94376AAB054268F95BF29";
constexpr const wchar_t* kOemId = L"9324";
constexpr const wchar_t* kApplicationName = L"Quillon";
}

std::wstring InstanceMutexName(DWORD sessionId)
{
    // The longest name is under 100 characters; wsprintfW writes at most 1024.
    wchar_t name[260];
    wsprintfW(name, L"MutexNameGUID%sOEMID%sSESSIONID%dAPP%s", kProductId, kOemId, static_cast<int>(sessionId),
              kApplicationName);
    return name;
}
