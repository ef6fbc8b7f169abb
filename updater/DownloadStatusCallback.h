#pragma once
#include <windows.h>
#include <urlmon.h>

#include "ComReference.h"

// The moniker's view of one download: it forwards every progress report to
// the owner window and turns a signalled cancel event into E_ABORT. It lives
// on the download thread's stack for exactly one download, so the reference
// count is kept only to answer the moniker; Release never frees.
//
// A download that sends more than kMaxRequestsPerDownload requests (a
// redirect loop) is given up: not every urlmon ends one by itself, and not
// every urlmon honours E_ABORT from OnProgress, so the callback keeps the
// binding and aborts it.
//
// For HTTP it also hears the server's answer (IHttpNegotiate::OnResponse):
// it keeps the status code, which decides whether the download counts, and
// asks the moniker to stop at a status that is no success. Not every urlmon
// honours that request, so the code it keeps is what the worker judges by.
// One request and this many redirects after it; more means a loop.
constexpr unsigned kMaxRequestsPerDownload = 21;

class DownloadStatusCallback final : public IBindStatusCallback, public IHttpNegotiate {
public:
    DownloadStatusCallback(HWND ownerWindow, HANDLE cancelEvent) : ownerWindow(ownerWindow), cancelEvent(cancelEvent) {}
    DownloadStatusCallback(const DownloadStatusCallback&) = delete;
    DownloadStatusCallback& operator=(const DownloadStatusCallback&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding* binding) override;
    HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) override;
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD reserved) override;
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                         LPCWSTR statusText) override;
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR error) override;
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* bindFlags, BINDINFO* bindInfo) override;
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format, STGMEDIUM* medium) override;
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID iid, IUnknown* object) override;

    HRESULT STDMETHODCALLTYPE BeginningTransaction(LPCWSTR url, LPCWSTR headers, DWORD reserved,
                                                   LPWSTR* additionalHeaders) override;
    HRESULT STDMETHODCALLTYPE OnResponse(DWORD statusCode, LPCWSTR responseHeaders, LPCWSTR requestHeaders,
                                         LPWSTR* additionalRequestHeaders) override;

    // The status code of the last HTTP answer, after any redirects;
    // kNoHttpStatus when none came.
    unsigned long FinalHttpStatus() const;
    // Whether the download was given up for sending too many requests.
    bool GaveUpOnRedirects() const { return gaveUpOnRedirects; }

private:
    LONG references = 1;
    ComReference<IBinding> binding;  // the running binding, to abort it
    unsigned requestsSent = 0;
    unsigned redirects = 0;
    bool gaveUpOnRedirects = false;
    // Written by OnResponse, read by the download thread once the download
    // call has returned; interlocked in case the moniker calls from elsewhere.
    mutable LONG httpStatus = 0;
    HWND ownerWindow;
    HANDLE cancelEvent;
};
