#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "UniqueHandle.h"

// Collects what this process writes with OutputDebugStringW while it lives.
// OutputDebugString raises a first-chance exception carrying the text whether
// or not a debugger listens; a vectored handler sees it before anyone else and
// lets it go on. Windows 10 raises the wide form and then the narrow one; Wine
// raises only the narrow form, so narrow texts are kept unless they repeat the
// wide text just seen.
//
// The plug-in writes its traces only while someone can read them, so the
// capture also stands for a debug-output viewer while it lives: it creates the
// event such a viewer creates (DBWIN_BUFFER_READY), but no shared buffer, so
// nothing waits for it.
class TraceCapture {
public:
    enum class Listener {
        None,    // only watch: the plug-in sees nobody listening
        Local,   // the viewer's event in the session's namespace
        Global,  // the viewer's event with the "Global\" prefix
    };
    explicit TraceCapture(Listener listener = Listener::Local);
    ~TraceCapture();
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    const std::vector<std::wstring>& Texts() const { return texts_; }
    void Clear() { texts_.clear(); }

private:
    static LONG CALLBACK OnException(EXCEPTION_POINTERS* exception);
    void Record(std::wstring text, bool wide);

    UniqueHandle listenerEvent_;
    PVOID handler_ = nullptr;
    std::vector<std::wstring> texts_;
    bool lastWasWide_ = false;
};
