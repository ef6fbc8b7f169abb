#include "DownloadStatusCallback.h"

#include "DownloadMessages.h"

HRESULT STDMETHODCALLTYPE DownloadStatusCallback::QueryInterface(REFIID iid, void** object)
{
    if (!object) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IBindStatusCallback))
        *object = static_cast<IBindStatusCallback*>(this);
    else if (IsEqualIID(iid, IID_IHttpNegotiate))
        *object = static_cast<IHttpNegotiate*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE DownloadStatusCallback::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&references));
}

ULONG STDMETHODCALLTYPE DownloadStatusCallback::Release()
{
    // The object belongs to the download thread's stack frame, not to COM.
    return static_cast<ULONG>(InterlockedDecrement(&references));
}

HRESULT STDMETHODCALLTYPE DownloadStatusCallback::OnStartBinding(DWORD, IBinding* started)
{
    binding.share(started);  // kept only to end a redirect loop
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DownloadStatusCallback::GetPriority(LONG*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE DownloadStatusCallback::OnLowResource(DWORD)
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DownloadStatusCallback::OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                                             LPCWSTR)
{
    // Report first, then look for a cancel request: the owner sees every
    // report, the one at which the download gives up included.
    job.Report({progress, progressMax, FoldStatusCode(statusCode)});
    if (job.CancelRequested()) return E_ABORT;

    // Some monikers report each redirect, others only each request sent;
    // the larger count is the number of requests so far.
    if (statusCode == BINDSTATUS_SENDINGREQUEST) ++requestsSent;
    if (statusCode == BINDSTATUS_REDIRECTING) ++redirects;
    const unsigned requests = requestsSent > redirects + 1 ? requestsSent : redirects + 1;
    if (requests > kMaxRequestsPerDownload && !gaveUpOnRedirects) {
        gaveUpOnRedirects = true;
        if (binding) binding->Abort();
    }
    return gaveUpOnRedirects ? E_ABORT : S_OK;
}

HRESULT STDMETHODCALLTYPE DownloadStatusCallback::OnStopBinding(HRESULT, LPCWSTR)
{
    binding.reset();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DownloadStatusCallback::GetBindInfo(DWORD* bindFlags, BINDINFO*)
{
    // The newest copy from the server, and no copy kept for later: a cached
    // version file would hide a release. The flags reach every request of the
    // binding, redirects included, which deleting the one cache entry of the
    // address asked for did not. The bind information stands as it is.
    if (bindFlags) *bindFlags |= BINDF_GETNEWESTVERSION | BINDF_NOWRITECACHE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DownloadStatusCallback::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*)
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DownloadStatusCallback::OnObjectAvailable(REFIID, IUnknown*)
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DownloadStatusCallback::BeginningTransaction(LPCWSTR, LPCWSTR, DWORD,
                                                                       LPWSTR* additionalHeaders)
{
    if (additionalHeaders) *additionalHeaders = nullptr;  // the moniker's own request headers stand
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DownloadStatusCallback::OnResponse(DWORD statusCode, LPCWSTR responseHeaders, LPCWSTR,
                                                             LPWSTR* additionalRequestHeaders)
{
    if (additionalRequestHeaders) *additionalRequestHeaders = nullptr;
    const HttpAnswer read = ReadHttpAnswer(statusCode, responseHeaders);
    AcquireSRWLockExclusive(&answerLock);
    answer = read;
    ReleaseSRWLockExclusive(&answerLock);
    // A urlmon that reports a redirect's answer before it follows it must go
    // on and follow it. S_OK at an error status would have urlmon send the
    // request again; the abort ends the transfer where it is honoured.
    return ContinueAfterHttpStatus(statusCode) ? S_OK : E_ABORT;
}

HttpAnswer DownloadStatusCallback::FinalHttpAnswer() const
{
    AcquireSRWLockShared(&answerLock);
    const HttpAnswer last = answer;
    ReleaseSRWLockShared(&answerLock);
    return last;
}
