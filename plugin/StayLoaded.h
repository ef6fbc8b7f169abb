#pragma once
#include <windows.h>

// What Unicode NSIS (2.42 and later) passes as the fifth argument of every
// plug-in call. Only the members up to the callback registration are laid
// out; NSIS may append more. The flags are ints and the rest pointers in
// 32-bit and 64-bit installers alike, and the callback answers a UINT_PTR.
struct NsisExecFlags {
    int autoClose;
    int allUserVar;
    int execError;
    int abort;
    int execReboot;
    int rebootCalled;
    int curInstType;
    int pluginApiVersion;  // NSIS 2.42 and later: kNsisPluginApi1_0 or above
    int silent;
    int instDirError;
    int rtl;
    int errorLevel;
    int alterRegView;
    int statusUpdate;
};

// The messages NSIS sends a registered plug-in.
enum NsisPluginMessage : int {
    kNsisUnload = 0,     // the installer ends: hold nothing, the DLL is freed next
    kNsisGuiUnload = 1,  // the installer's window is gone
};

using NsisPluginCallback = UINT_PTR(__cdecl*)(int message);

struct NsisExtraParameters {
    NsisExecFlags* execFlags;
    int(__stdcall* executeCodeSegment)(int position, HWND parent);
    void(__stdcall* validateFileName)(wchar_t* fileName);
    // 0 when registered, 1 when the callback already was, below 0 on error.
    int(__stdcall* registerPluginCallback)(HMODULE plugin, NsisPluginCallback callback);
};

constexpr int kNsisPluginApi1_0 = 0x00010000;

// Whether the host offers to keep a registered plug-in loaded between calls.
bool HostKeepsPluginsLoaded(const NsisExtraParameters* extra);

// Registers with the host, once, so that NSIS keeps the DLL loaded between
// calls instead of loading and freeing it around each one. A host that passes
// no extra parameters, or an older plug-in interface, is left as it is.
void StayLoaded(const NsisExtraParameters* extra);

// The callback StayLoaded registers. On kNsisUnload it forgets the
// registration, so that a host that calls again afterwards (it must not) is
// still served, and registered anew when it offers to keep the DLL.
UINT_PTR __cdecl OnNsisPluginMessage(int message);
