#pragma once
#include <windows.h>

#include <string>
#include <vector>

// Collects what this process writes with OutputDebugStringW while it lives.
// OutputDebugString raises a first-chance exception carrying the text whether
// or not a debugger listens; a vectored handler sees it before anyone else and
// lets it go on. Windows 10 raises the wide form and then the narrow one; Wine
// raises only the narrow form, so narrow texts are kept unless they repeat the
// wide text just seen.
class TraceCapture {
public:
    TraceCapture();
    ~TraceCapture();
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    const std::vector<std::wstring>& Texts() const { return texts_; }
    void Clear() { texts_.clear(); }

private:
    static LONG CALLBACK OnException(EXCEPTION_POINTERS* exception);
    void Record(std::wstring text, bool wide);

    PVOID handler_ = nullptr;
    std::vector<std::wstring> texts_;
    bool lastWasWide_ = false;
};
