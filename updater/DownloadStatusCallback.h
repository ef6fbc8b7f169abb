#pragma once
#include <windows.h>
#include <urlmon.h>

#include "ComReference.h"
#include "DownloadJob.h"
#include "HttpStatus.h"

// The moniker's view of one download: it hands every progress report to the
// job (which tells the owner window) and turns a cancel request into E_ABORT.
// It lives on the download thread's stack for exactly one download, so the
// reference count is kept only to answer the moniker; Release never frees.
//
// It asks the moniker for the server's current files (GetBindInfo): nothing
// is answered from the Internet cache or written to it, for the address
// asked and for every redirect target alike.
//
// A download that sends more than kMaxRequestsPerDownload requests (a
// redirect loop) is given up: not every urlmon ends one by itself, and not
// every urlmon honours E_ABORT from OnProgress, so the callback keeps the
// binding and aborts it.
//
// For HTTP it also hears the server's answer (IHttpNegotiate::OnResponse):
// it keeps the status and the length the server announced, which decide
// whether the download counts, lets a redirect be followed, and asks the
// moniker to stop at any other status that is not the file. Not every urlmon
// honours that request, so the answer it keeps is what the worker judges by.
// One request and this many redirects after it; more means a loop.
constexpr unsigned kMaxRequestsPerDownload = 21;

class DownloadStatusCallback final : public IBindStatusCallback, public IHttpNegotiate {
public:
    // job must outlive the callback.
    explicit DownloadStatusCallback(DownloadJob& job) : job(job) {}
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

    // The last HTTP answer, after any redirects; its status is kNoHttpStatus
    // when none came.
    HttpAnswer FinalHttpAnswer() const;
    // Whether the download was given up for sending too many requests.
    bool GaveUpOnRedirects() const { return gaveUpOnRedirects; }

private:
    LONG references = 1;
    ComReference<IBinding> binding;  // the running binding, to abort it
    unsigned requestsSent = 0;
    unsigned redirects = 0;
    bool gaveUpOnRedirects = false;
    // Written by OnResponse, read by the download thread once the download
    // call has returned; locked in case the moniker calls from elsewhere.
    mutable SRWLOCK answerLock = SRWLOCK_INIT;
    HttpAnswer answer;
    DownloadJob& job;
};
