#pragma once
#include <windows.h>

#include <cstddef>

// One node of the NSIS stack, laid out by the host: the link, then the text
// inline. The host allocates nodes with GlobalAlloc; whoever pops one frees it.
// The link is a pointer in both of NSIS's plug-in interfaces, so the text
// begins at 4 bytes in a 32-bit installer and at 8 in a 64-bit one.
struct NsisStackNode {
    NsisStackNode* next;
    wchar_t text[1];
};
static_assert(offsetof(NsisStackNode, text) == sizeof(void*), "the text follows the link");

// What an export records at its start. It stays until the next call replaces
// it. Besides it only two facts survive between calls: that the plug-in is
// registered to stay loaded (StayLoaded.h) and that the privilege step has
// succeeded (Privileges.h); no key, handle or file does.
struct CallContext {
    HWND parent = nullptr;            // recorded, not read
    int stringSize = 0;               // code units in one variable slot, NUL included
    wchar_t* variables = nullptr;     // $0..$9, then $R0..$R9, each stringSize units
    NsisStackNode** stackTop = nullptr;
};

struct NsisExtraParameters;

// The frame around one export call: records the call context, asks the host
// to keep the plug-in loaded when it can, and lets the traces of this call be
// decided afresh. Leaving it ends the call's trace decision.
class ExportCall {
public:
    ExportCall(HWND parent, int stringSize, wchar_t* variables, NsisStackNode** stackTop,
               const NsisExtraParameters* extra);
    ~ExportCall();
    ExportCall(const ExportCall&) = delete;
    ExportCall& operator=(const ExportCall&) = delete;
};

// Every export has this signature: NSIS calls plug-in functions with cdecl
// (x64 Windows has one calling convention, and ignores the word). Unicode
// NSIS passes a fifth argument, its extra parameters; a host that passes null
// there is served too, loaded and freed around each call. The export runs its
// work inside the frame; the work's body follows the macro.
#define NSIS_PLUGIN_EXPORT(name) \
    static void name##Work(); \
    extern "C" __declspec(dllexport) void __cdecl name( \
        HWND parent, int stringSize, wchar_t* variables, NsisStackNode** stackTop, NsisExtraParameters* extra) \
    { \
        const ExportCall call(parent, stringSize, variables, stackTop, extra); \
        name##Work(); \
    } \
    static void name##Work()

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

// How long an answer to "does anyone read the traces?" serves the export
// calls that follow it. An installer makes its calls in bursts, a viewer is
// started by hand: one that starts listening hears the calls that begin a
// tenth of a second later, and a burst of calls asks the system once.
constexpr DWORD kTraceDecisionLifetimeMs = 100;

// Hands text unchanged to the debugger channel, but only while someone can
// read it (see TraceListener.h). Within an export call that is decided at
// the call's first trace, unless a call that began less than
// kTraceDecisionLifetimeMs after an earlier decision takes that one; the
// decision holds for the whole call. Outside a call, each trace decides for
// itself.
void DebugLog(const wchar_t* text);

// Lets the running export call decide afresh, at its next trace, whether
// anyone reads. For a call that waits on the user between two rounds of work
// (GetDllOwnerProcName's Retry loop): a viewer started while the call waits
// hears the rounds that follow.
void DecideTracesAgain();
