#include <gtest/gtest.h>

#include <windows.h>
#include <urlmon.h>

#include <vector>

#include "DownloadMessages.h"
#include "DownloadStatusCallback.h"
#include "EngineSupport.h"
#include "HttpStatus.h"
#include "UniqueHandle.h"

namespace {
TEST(DownloadStatusCallbackTest, EveryReportReachesTheOwnerWithTheStatusCodeFolded)
{
    struct Case { ULONG moniker; std::uint32_t reported; };
    const Case cases[] = {{0, 34}, {1, 1}, {5, 5}, {33, 33}, {34, 34}, {35, 34}, {0xFFFFFFFF, 34}};
    OwnerWindow owner;
    DownloadStatusCallback callback(owner.get(), nullptr);
    const wchar_t statusText[] = L"http://127.0.0.1/x";
    for (const Case& c : cases) {
        owner.reports.clear();
        EXPECT_EQ(callback.OnProgress(499, 0, c.moniker, statusText), S_OK);
        ASSERT_EQ(owner.reports.size(), 1u) << c.moniker;
        const DownloadProgress& record = owner.reports[0].record;
        EXPECT_EQ(record.statusCode, c.reported) << c.moniker;
        EXPECT_EQ(record.progress, 499u);
        EXPECT_EQ(record.progressMax, 0u) << "a missing total is passed on as it is";
        EXPECT_EQ(record.statusText, statusText);
    }
    EXPECT_EQ(callback.OnProgress(7, 4294967295u, 6, nullptr), S_OK);
    EXPECT_EQ(owner.reports.back().record.progressMax, 4294967295u);
    EXPECT_EQ(owner.reports.back().record.statusText, nullptr);
}

TEST(DownloadStatusCallbackTest, SignalledEventAbortsAfterTheReport)
{
    OwnerWindow owner;
    const UniqueHandle cancel(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    DownloadStatusCallback callback(owner.get(), cancel.get());
    EXPECT_EQ(callback.OnProgress(1, 2, 5, nullptr), S_OK);
    SetEvent(cancel.get());
    EXPECT_EQ(callback.OnProgress(2, 2, 5, nullptr), E_ABORT);
    EXPECT_EQ(owner.reports.size(), 2u) << "the report at which the download gives up is delivered too";
    EXPECT_EQ(callback.OnProgress(2, 2, 5, nullptr), E_ABORT) << "the event stays signalled";

    // Without a window nothing is sent, and the event still counts; without
    // an event nothing is ever cancelled.
    DownloadStatusCallback windowless(nullptr, cancel.get());
    EXPECT_EQ(windowless.OnProgress(1, 2, 5, nullptr), E_ABORT);
    DownloadStatusCallback eventless(owner.get(), nullptr);
    EXPECT_EQ(eventless.OnProgress(1, 2, 5, nullptr), S_OK);
    EXPECT_EQ(owner.reports.size(), 4u);
}

TEST(DownloadStatusCallbackTest, AnswersTheMonikerAsABindStatusCallback)
{
    DownloadStatusCallback callback(nullptr, nullptr);
    IBindStatusCallback& moniker = callback;

    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(moniker.QueryInterface(IID_IBindStatusCallback, &object), S_OK);
    EXPECT_EQ(object, static_cast<void*>(&moniker));
    EXPECT_EQ(moniker.QueryInterface(IID_IUnknown, &object), S_OK);
    EXPECT_EQ(object, static_cast<void*>(&moniker));
    EXPECT_EQ(moniker.QueryInterface(IID_IHttpNegotiate, &object), S_OK);
    EXPECT_EQ(object, static_cast<void*>(static_cast<IHttpNegotiate*>(&callback)));
    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(moniker.QueryInterface(IID_IStream, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);

    // Starts at 1; the three successful queries each added one, whichever
    // interface they went through. Release never frees, not even at 0: the
    // object lives on its thread's stack.
    EXPECT_EQ(static_cast<IHttpNegotiate&>(callback).AddRef(), 5u);
    EXPECT_EQ(static_cast<IHttpNegotiate&>(callback).Release(), 4u);
    EXPECT_EQ(moniker.Release(), 3u);
    EXPECT_EQ(moniker.Release(), 2u);
    EXPECT_EQ(moniker.Release(), 1u);
    EXPECT_EQ(moniker.Release(), 0u);
    EXPECT_EQ(moniker.AddRef(), 1u);

    LONG priority = 0;
    EXPECT_EQ(moniker.GetPriority(&priority), E_NOTIMPL);
    EXPECT_EQ(moniker.OnStartBinding(0, nullptr), S_OK);
    EXPECT_EQ(moniker.OnLowResource(0), S_OK);
    EXPECT_EQ(moniker.OnStopBinding(E_FAIL, nullptr), S_OK);
    EXPECT_EQ(moniker.OnDataAvailable(0, 0, nullptr, nullptr), S_OK);
    EXPECT_EQ(moniker.OnObjectAvailable(IID_IUnknown, nullptr), S_OK);

    // The moniker's own bind flags and information stand untouched.
    DWORD flags = 0x1234;
    BINDINFO info;
    FillMemory(&info, sizeof(info), 0xAB);
    BINDINFO before = info;
    EXPECT_EQ(moniker.GetBindInfo(&flags, &info), S_OK);
    EXPECT_EQ(flags, 0x1234u);
    EXPECT_EQ(memcmp(&info, &before, sizeof(info)), 0);
}
// Stands in for the moniker's binding: counts the aborts and references.
class CountingBinding final : public IBinding {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE Abort() override
    {
        ++aborts;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Suspend() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Resume() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPriority(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetBindResult(CLSID*, DWORD*, LPOLESTR*, DWORD*) override { return E_NOTIMPL; }
    ULONG references = 1;
    int aborts = 0;
};

// A redirect loop is ended by the callback itself: past the limit of
// requests, once, through the binding (some monikers ignore E_ABORT from
// OnProgress). Monikers that report each redirect and those that report only
// each request sent are both caught; a download's own few requests are not.
TEST(DownloadStatusCallbackTest, GivesUpARedirectLoopThroughTheBinding)
{
    struct Case { const char* what; std::vector<ULONG> perRequest; };
    const Case cases[] = {
        {"requests reported", {BINDSTATUS_FINDINGRESOURCE, BINDSTATUS_SENDINGREQUEST}},
        {"redirects reported", {BINDSTATUS_REDIRECTING}},
        {"both reported", {BINDSTATUS_REDIRECTING, BINDSTATUS_SENDINGREQUEST}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CountingBinding binding;
        {
            DownloadStatusCallback callback(nullptr, nullptr);
            EXPECT_EQ(callback.OnStartBinding(0, &binding), S_OK);
            EXPECT_EQ(binding.references, 2u);
            // Where redirects are reported, the first request is reported
            // as sent before any of them.
            const bool redirectsReported = c.perRequest[0] == BINDSTATUS_REDIRECTING;
            if (redirectsReported) EXPECT_EQ(callback.OnProgress(0, 0, BINDSTATUS_SENDINGREQUEST, nullptr), S_OK);
            for (unsigned request = redirectsReported ? 2 : 1; request <= kMaxRequestsPerDownload; ++request)
                for (ULONG status : c.perRequest) ASSERT_EQ(callback.OnProgress(0, 0, status, nullptr), S_OK) << request;
            EXPECT_FALSE(callback.GaveUpOnRedirects());
            EXPECT_EQ(binding.aborts, 0);

            HRESULT last = S_OK;
            for (ULONG status : c.perRequest) last = callback.OnProgress(0, 0, status, nullptr);
            EXPECT_EQ(last, E_ABORT);
            EXPECT_TRUE(callback.GaveUpOnRedirects());
            EXPECT_EQ(binding.aborts, 1);
            EXPECT_EQ(callback.OnProgress(0, 0, BINDSTATUS_SENDINGREQUEST, nullptr), E_ABORT);
            EXPECT_EQ(binding.aborts, 1) << "aborted once";
        }
        EXPECT_EQ(binding.references, 1u) << "the binding's reference is given back";
    }

    // The binding goes back at the end of the binding already.
    CountingBinding binding;
    DownloadStatusCallback callback(nullptr, nullptr);
    callback.OnStartBinding(0, &binding);
    callback.OnStopBinding(S_OK, nullptr);
    EXPECT_EQ(binding.references, 1u);
}

// The status of the server's answer is kept, the last one counting (a
// redirect's answer may come before the file's), and every status that is no
// success asks the moniker to stop: S_OK there would have it send again.
TEST(DownloadStatusCallbackTest, KeepsTheHttpStatusAndAbortsOnAnError)
{
    DownloadStatusCallback callback(nullptr, nullptr);
    IHttpNegotiate& negotiate = callback;
    EXPECT_EQ(callback.FinalHttpStatus(), kNoHttpStatus);

    LPWSTR added = reinterpret_cast<LPWSTR>(1);
    EXPECT_EQ(negotiate.BeginningTransaction(L"https://localhost/x", L"", 0, &added), S_OK);
    EXPECT_EQ(added, nullptr) << "no request headers of our own";

    struct Case { DWORD status; HRESULT answer; };
    const Case cases[] = {{200, S_OK}, {206, S_OK}, {301, E_ABORT}, {404, E_ABORT}, {500, E_ABORT},
                          {100, E_ABORT}, {299, S_OK}, {0, E_ABORT}};
    for (const Case& c : cases) {
        added = reinterpret_cast<LPWSTR>(1);
        EXPECT_EQ(negotiate.OnResponse(c.status, L"HTTP/1.1 ...", nullptr, &added), c.answer) << c.status;
        EXPECT_EQ(added, nullptr);
        EXPECT_EQ(callback.FinalHttpStatus(), c.status);
    }
    EXPECT_EQ(negotiate.OnResponse(404, nullptr, nullptr, nullptr), E_ABORT) << "no out pointer given";
    EXPECT_EQ(callback.FinalHttpStatus(), 404u);
}
}  // namespace
