#pragma once
#include <windows.h>

// What window_driver.exe and text_extent_probe.dll share to measure a text
// with the font of one of the update dialog's controls. A font handle means
// nothing in another process, so the measuring happens in the updater's own:
// the driver writes a request into the named mapping, hooks the dialog's
// thread with the probe's kTextExtentHook (which loads the probe into the
// updater) and sends the dialog kTextExtentMessage. The hook, running on the
// dialog's thread before the dialog sees the message, measures and writes
// its answer back into the mapping before the send returns.
constexpr const wchar_t* kTextExtentMapping = L"QuillonTestTextExtent";
constexpr const wchar_t* kTextExtentMessage = L"QuillonTestTextExtent";
constexpr const char* kTextExtentHook = "MeasureTextExtent";

constexpr int kTextExtentCapacity = 1024;

struct TextExtentRequest {
    // Asked by the driver.
    int controlId;
    wchar_t text[kTextExtentCapacity];  // empty: the control's own text
    // Answered by the hook.
    LONG answered;  // 1 when measured, -1 when the dialog has no such control
    SIZE extent;    // GetTextExtentPoint32W of the text in the control's font
    SIZE client;    // the control's client area
    UINT dpi;       // the DPI the dialog is laid out for; 0 where the system cannot tell
};

// Owns one process's view of the request; unmaps it on every path out.
class RequestView {
public:
    explicit RequestView(HANDLE mapping)
        : request_(static_cast<TextExtentRequest*>(
              MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(TextExtentRequest))))
    {
    }
    RequestView(const RequestView&) = delete;
    RequestView& operator=(const RequestView&) = delete;
    ~RequestView()
    {
        if (request_) UnmapViewOfFile(request_);
    }
    TextExtentRequest* get() const { return request_; }

private:
    TextExtentRequest* request_;
};
