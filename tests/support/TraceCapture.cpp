#include "TraceCapture.h"

namespace {
TraceCapture* g_active = nullptr;
constexpr DWORD kPrintNarrow = 0x40010006;  // DBG_PRINTEXCEPTION_C
constexpr DWORD kPrintWide = 0x4001000A;    // DBG_PRINTEXCEPTION_WIDE_C
}

TraceCapture::TraceCapture(Listener listener)
{
    if (listener != Listener::None)
        listenerEvent_.reset(CreateEventW(nullptr, FALSE, FALSE,
                                          listener == Listener::Global ? L"Global\\DBWIN_BUFFER_READY"
                                                                       : L"DBWIN_BUFFER_READY"));
    g_active = this;
    handler_ = AddVectoredExceptionHandler(1, &TraceCapture::OnException);
}

TraceCapture::~TraceCapture()
{
    RemoveVectoredExceptionHandler(handler_);
    g_active = nullptr;
}

LONG CALLBACK TraceCapture::OnException(EXCEPTION_POINTERS* exception)
{
    const EXCEPTION_RECORD* record = exception->ExceptionRecord;
    if (!g_active || record->NumberParameters < 2) return EXCEPTION_CONTINUE_SEARCH;
    if (record->ExceptionCode == kPrintWide) {
        g_active->Record(reinterpret_cast<const wchar_t*>(record->ExceptionInformation[1]), true);
    } else if (record->ExceptionCode == kPrintNarrow) {
        const char* narrow = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
        const int units = MultiByteToWideChar(CP_ACP, 0, narrow, -1, nullptr, 0);
        std::wstring text(units > 0 ? units - 1 : 0, L'\0');
        if (units > 1) MultiByteToWideChar(CP_ACP, 0, narrow, -1, &text[0], units);
        g_active->Record(std::move(text), false);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

void TraceCapture::Record(std::wstring text, bool wide)
{
    const bool echoOfWide = !wide && lastWasWide_ && !texts_.empty() && texts_.back() == text;
    lastWasWide_ = wide;
    if (!echoOfWide) texts_.push_back(std::move(text));
}
