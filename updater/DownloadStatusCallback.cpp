#include "DownloadStatusCallback.h"

#include "DownloadMessages.h"

HRESULT STDMETHODCALLTYPE DownloadStatusCallback::QueryInterface(REFIID iid, void** object)
{
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IBindStatusCallback)) return E_NOINTERFACE;
    *object = static_cast<IBindStatusCallback*>(this);
    static_cast<IBindStatusCallback*>(this)->AddRef();
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

HRESULT STDMETHODCALLTYPE DownloadStatusCallback::OnStartBinding(DWORD, IBinding*)
{
    return S_OK;  // cancellation goes through OnProgress, so the binding is not kept
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
                                                             LPCWSTR statusText)
{
    // Report first, then look at the cancel event: the owner sees every
    // report, the one at which the download gives up included. The record may
    // live on this stack because the send waits until it has been handled.
    if (ownerWindow) {
        DownloadProgress record{progress, progressMax, FoldStatusCode(statusCode), statusText};
        SendMessageW(ownerWindow, WM_DOWNLOAD_PROGRESS, 0, reinterpret_cast<LPARAM>(&record));
    }
    if (cancelEvent && WaitForSingleObject(cancelEvent, 0) == WAIT_OBJECT_0) return E_ABORT;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DownloadStatusCallback::OnStopBinding(HRESULT, LPCWSTR)
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DownloadStatusCallback::GetBindInfo(DWORD*, BINDINFO*)
{
    return S_OK;  // the moniker's own bind flags and information stand
}

HRESULT STDMETHODCALLTYPE DownloadStatusCallback::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*)
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DownloadStatusCallback::OnObjectAvailable(REFIID, IUnknown*)
{
    return S_OK;
}
