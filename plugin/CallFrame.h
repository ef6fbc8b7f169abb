#pragma once
#include <windows.h>

#include <cstddef>

// One node of the NSIS stack, laid out by the host: the link, then the text
// inline. The host allocates nodes with GlobalAlloc; whoever pops one frees it.
struct NsisStackNode {
    NsisStackNode* next;
    wchar_t text[1];
};

// What an export records at its start. It stays until the next call replaces
// it; nothing else survives between calls.
struct CallContext {
    HWND parent = nullptr;            // recorded, not read
    int stringSize = 0;               // code units in one variable slot, NUL included
    wchar_t* variables = nullptr;     // $0..$9, then $R0..$R9, each stringSize units
    NsisStackNode** stackTop = nullptr;
};

// Every export has this signature: NSIS calls plug-in functions with cdecl and
// four arguments. Hosts that pass a fifth are served too, since with cdecl the
// caller removes the arguments and the fifth is never read.
#define NSIS_PLUGIN_EXPORT(name) \
    extern "C" __declspec(dllexport) void __cdecl name( \
        HWND parent, int stringSize, wchar_t* variables, NsisStackNode** stackTop)

void RecordCallContext(HWND parent, int stringSize, wchar_t* variables, NsisStackNode** stackTop);
const CallContext& CurrentCallContext();

// Code units of the argument buffer that the registry exports share.
constexpr std::size_t kArgumentCapacity = 1024;

enum class PopResult {
    Popped = 0,   // the top text is in the buffer, the node is gone
    Empty = 1,    // no stack or no node: the buffer is exactly as it was
    TooLong = 2,  // the node is gone, but its text did not fit: the buffer holds
                  // only its first capacity-1 units and must not be used as the argument
};

// Pops the top text into buffer (capacity code units, NUL included), writes
// what it copied to the debugger trace and frees the node.
PopResult PopString(wchar_t* buffer, std::size_t capacity);

// Writes text into $R0, cut to the slot size; no other variable is touched.
void SetResult(const wchar_t* text);

// Hands text unchanged to the debugger channel.
void DebugLog(const wchar_t* text);
