#pragma once
#include <windows.h>
#include <urlmon.h>

// The moniker's view of one download: it forwards every progress report to
// the owner window and turns a signalled cancel event into E_ABORT. It lives
// on the download thread's stack for exactly one download, so the reference
// count is kept only to answer the moniker; Release never frees.
class DownloadStatusCallback final : public IBindStatusCallback {
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

private:
    LONG references = 1;
    HWND ownerWindow;
    HANDLE cancelEvent;
};
