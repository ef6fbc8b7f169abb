#include "CallFrame.h"

#include "StayLoaded.h"
#include "TraceListener.h"

namespace {
CallContext g_context;

constexpr int kResultSlot = 10;  // $R0 follows $0..$9

// Whether the traces of export calls are written, and when the system was
// last asked. Asking looks a named object up: a round trip to the kernel, to
// the wineserver under Wine, where it was measured to add a third to a
// registry write. A call without traces never asks, and calls that start
// within kTraceDecisionLifetimeMs of the last answer share it.
enum class TraceDecision { Undecided, Write, Skip };
TraceDecision g_traces = TraceDecision::Undecided;
DWORD g_decidedAt = 0;
bool g_inExportCall = false;
}

ExportCall::ExportCall(HWND parent, int stringSize, wchar_t* variables, NsisStackNode** stackTop,
                       const NsisExtraParameters* extra)
{
    RecordCallContext(parent, stringSize, variables, stackTop);
    // Decided only here, between calls: one call's traces are all written or
    // none are.
    if (GetTickCount() - g_decidedAt >= kTraceDecisionLifetimeMs) g_traces = TraceDecision::Undecided;
    g_inExportCall = true;
    StayLoaded(extra);
}

ExportCall::~ExportCall()
{
    g_inExportCall = false;
}

void RecordCallContext(HWND parent, int stringSize, wchar_t* variables, NsisStackNode** stackTop)
{
    g_context.parent = parent;
    g_context.stringSize = stringSize;
    g_context.variables = variables;
    g_context.stackTop = stackTop;
}

const CallContext& CurrentCallContext()
{
    return g_context;
}

PopResult PopString(wchar_t* buffer, std::size_t capacity)
{
    NsisStackNode** stackTop = g_context.stackTop;
    if (!stackTop || !*stackTop || capacity == 0) return PopResult::Empty;

    NsisStackNode* node = *stackTop;
    std::size_t length = 0;
    while (length < capacity && node->text[length] != L'\0') ++length;
    const bool fits = length < capacity;
    const std::size_t copied = fits ? length : capacity - 1;
    CopyMemory(buffer, node->text, copied * sizeof(wchar_t));
    buffer[copied] = L'\0';

    DebugLog(buffer);
    *stackTop = node->next;
    GlobalFree(node);
    return fits ? PopResult::Popped : PopResult::TooLong;
}

void SetResult(const wchar_t* text)
{
    if (!g_context.variables || g_context.stringSize <= 0) return;
    lstrcpynW(g_context.variables + kResultSlot * g_context.stringSize, text, g_context.stringSize);
}

void DebugLog(const wchar_t* text)
{
    // Every OutputDebugString raises and unwinds an exception; under Wine one
    // was measured at about a third of a registry write, and a registry call
    // writes some twenty texts: a text nobody receives is not worth that.
    TraceDecision decision = g_inExportCall ? g_traces : TraceDecision::Undecided;
    if (decision == TraceDecision::Undecided) {
        decision = SomeoneReadsTraces() ? TraceDecision::Write : TraceDecision::Skip;
        if (g_inExportCall) {
            g_traces = decision;
            g_decidedAt = GetTickCount();
        }
    }
    if (decision == TraceDecision::Write) OutputDebugStringW(text);
}

void DecideTracesAgain()
{
    g_traces = TraceDecision::Undecided;
}
