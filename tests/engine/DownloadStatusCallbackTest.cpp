#include <gtest/gtest.h>

#include <windows.h>
#include <urlmon.h>

#include <vector>

#include "ComReference.h"
#include "DownloadJob.h"
#include "DownloadMessages.h"
#include "DownloadStatusCallback.h"
#include "EngineSupport.h"
#include "HttpStatus.h"

namespace {
constexpr std::uint32_t kGeneration = 7;

// A job of its own for each test.
ComReference<DownloadJob> NewJob()
{
    return ComReference<DownloadJob>(new DownloadJob(kGeneration, L"http://127.0.0.1/x", L"C:\\x"));
}

// A job and an owner window that reads its reports back as the dialog reads
// the worker's; attached to the job at once unless the test attaches it.
struct JobAndOwner {
    explicit JobAndOwner(bool attached = true) : job(NewJob())
    {
        owner.readProgress = [this](WPARAM generation, DownloadProgress& report) {
            return generation == kGeneration && job->LatestReport(report);
        };
        owner.takeOutcome = [this](WPARAM generation, bool& arrived) {
            return generation == kGeneration && job->TakeOutcome(arrived);
        };
        if (attached) job->AttachOwner(owner.get());
    }
    OwnerWindow owner;
    ComReference<DownloadJob> job;
};

TEST(DownloadStatusCallbackTest, EveryReportReachesTheOwnerWithTheStatusCodeFolded)
{
    struct Case { ULONG moniker; std::uint32_t reported; };
    const Case cases[] = {{0, 34}, {1, 1}, {5, 5}, {33, 33}, {34, 34}, {35, 34}, {0xFFFFFFFF, 34}};
    JobAndOwner test;
    DownloadStatusCallback callback(*test.job.get());
    for (const Case& c : cases) {
        test.owner.reports.clear();
        EXPECT_EQ(callback.OnProgress(499, 0, c.moniker, L"http://127.0.0.1/x"), S_OK);
        ASSERT_EQ(test.owner.reports.size(), 1u) << c.moniker;
        EXPECT_EQ(test.owner.reports[0].generation, kGeneration);
        const DownloadProgress& record = test.owner.reports[0].record;
        EXPECT_EQ(record.statusCode, c.reported) << c.moniker;
        EXPECT_EQ(record.progress, 499u);
        EXPECT_EQ(record.progressMax, 0u) << "a missing total is passed on as it is";
    }
    EXPECT_EQ(callback.OnProgress(7, 4294967295u, 6, nullptr), S_OK);
    EXPECT_EQ(test.owner.reports.back().record.progressMax, 4294967295u);
    EXPECT_TRUE(test.owner.done.empty()) << "nothing carried anything in lParam";
}

TEST(DownloadStatusCallbackTest, CancelRequestAbortsAfterTheReport)
{
    JobAndOwner test;
    DownloadStatusCallback callback(*test.job.get());
    EXPECT_EQ(callback.OnProgress(1, 2, 5, nullptr), S_OK);
    test.job->RequestCancel();
    EXPECT_EQ(callback.OnProgress(2, 2, 5, nullptr), E_ABORT);
    EXPECT_EQ(test.owner.reports.size(), 2u) << "the report at which the download gives up is delivered too";
    EXPECT_EQ(test.owner.reports.back().record.progress, 2u);
    EXPECT_EQ(callback.OnProgress(2, 2, 5, nullptr), E_ABORT) << "the request stays";

    // Without a window nothing is sent and the report is held, and the
    // cancel request still counts.
    test.job->AttachOwner(nullptr);
    EXPECT_EQ(callback.OnProgress(9, 10, 5, nullptr), E_ABORT);
    EXPECT_EQ(test.owner.reports.size(), 3u);
    DownloadProgress held{};
    ASSERT_TRUE(test.job->LatestReport(held));
    EXPECT_EQ(held.progress, 9u);
}

// A job's reports and its end reach the owner only through the job: the
// message names the job, and the owner reads back. Reports made before there
// was an owner, and an end that came before, are announced when it comes;
// the outcome is handed out once, and only after the end.
TEST(DownloadStatusCallbackTest, JobHoldsItsReportsAndOutcomeForTheOwner)
{
    JobAndOwner test(false);
    OwnerWindow& owner = test.owner;
    DownloadJob* const job = test.job.get();
    DownloadProgress report{};
    bool arrived = true;
    EXPECT_FALSE(job->LatestReport(report)) << "nothing reported yet";
    EXPECT_FALSE(job->TakeOutcome(arrived)) << "still running";

    job->Report({10, 100, 5});
    job->Report({20, 100, 5});
    job->Finish(false);
    owner.Drain();
    EXPECT_TRUE(owner.reports.empty() && owner.done.empty()) << "no owner yet: nothing sent or posted";

    job->AttachOwner(owner.get());
    owner.Drain();
    ASSERT_EQ(owner.reports.size(), 1u) << "the held report, once";
    EXPECT_EQ(owner.reports[0].record.progress, 20u);
    EXPECT_FALSE(owner.reports[0].sentByAnotherThread);
    EXPECT_EQ(owner.done, std::vector<WPARAM>{0}) << "the end that came before";

    EXPECT_FALSE(job->TakeOutcome(arrived)) << "handed out once";
    PostMessageW(owner.get(), WM_DOWNLOAD_DONE, kGeneration, 0);  // a repeated completion
    owner.Drain();
    EXPECT_EQ(owner.done, (std::vector<WPARAM>{0, kOutcomeNotTaken}));
}

TEST(DownloadStatusCallbackTest, AnswersTheMonikerAsABindStatusCallback)
{
    JobAndOwner test;
    DownloadStatusCallback callback(*test.job.get());
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

    // The newest copy, and none kept: the moniker's own flags stay beside
    // them, and its bind information stands untouched.
    DWORD flags = BINDF_ASYNCHRONOUS | BINDF_PULLDATA;
    BINDINFO info;
    FillMemory(&info, sizeof(info), 0xAB);
    BINDINFO before = info;
    EXPECT_EQ(moniker.GetBindInfo(&flags, &info), S_OK);
    EXPECT_EQ(flags, static_cast<DWORD>(BINDF_ASYNCHRONOUS | BINDF_PULLDATA | BINDF_GETNEWESTVERSION |
                                        BINDF_NOWRITECACHE));
    EXPECT_EQ(memcmp(&info, &before, sizeof(info)), 0);
    EXPECT_EQ(moniker.GetBindInfo(nullptr, &info), S_OK);
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
            const ComReference<DownloadJob> job = NewJob();
            DownloadStatusCallback callback(*job.get());
            EXPECT_EQ(callback.OnStartBinding(0, &binding), S_OK);
            EXPECT_EQ(binding.references, 2u);
            // Where redirects are reported, the first request is reported
            // as sent before any of them.
            const bool redirectsReported = c.perRequest[0] == BINDSTATUS_REDIRECTING;
            if (redirectsReported) {
                EXPECT_EQ(callback.OnProgress(0, 0, BINDSTATUS_SENDINGREQUEST, nullptr), S_OK);
            }
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
    const ComReference<DownloadJob> job = NewJob();
    DownloadStatusCallback callback(*job.get());
    callback.OnStartBinding(0, &binding);
    callback.OnStopBinding(S_OK, nullptr);
    EXPECT_EQ(binding.references, 1u);
}

// The server's answer is kept, the last one counting (a redirect's answer
// may come before the file's). A redirect goes on, so that a moniker that
// reports it before following it follows it; every other status that is not
// the file asks the moniker to stop: S_OK there would have it send again.
TEST(DownloadStatusCallbackTest, KeepsTheHttpAnswerAndStopsAtWhatIsNotTheFile)
{
    const ComReference<DownloadJob> job = NewJob();
    DownloadStatusCallback callback(*job.get());
    IHttpNegotiate& negotiate = callback;
    EXPECT_EQ(callback.FinalHttpAnswer().status, kNoHttpStatus);

    LPWSTR added = reinterpret_cast<LPWSTR>(1);
    EXPECT_EQ(negotiate.BeginningTransaction(L"https://localhost/x", L"", 0, &added), S_OK);
    EXPECT_EQ(added, nullptr) << "no request headers of our own";

    struct Case { DWORD status; HRESULT answer; };
    const Case cases[] = {{200, S_OK}, {203, S_OK}, {301, S_OK}, {302, S_OK}, {307, S_OK}, {204, E_ABORT},
                          {206, E_ABORT}, {404, E_ABORT}, {500, E_ABORT}, {100, E_ABORT}, {0, E_ABORT}};
    for (const Case& c : cases) {
        added = reinterpret_cast<LPWSTR>(1);
        EXPECT_EQ(negotiate.OnResponse(c.status, L"HTTP/1.1 ...", nullptr, &added), c.answer) << c.status;
        EXPECT_EQ(added, nullptr);
        EXPECT_EQ(callback.FinalHttpAnswer().status, c.status);
    }
    EXPECT_EQ(negotiate.OnResponse(404, nullptr, nullptr, nullptr), E_ABORT) << "no out pointer given";
    EXPECT_EQ(callback.FinalHttpAnswer().status, 404u);

    // The redirect's own length gives way to the file's.
    negotiate.OnResponse(302, L"HTTP/1.1 302 Found\r\nContent-Length: 154\r\n", nullptr, nullptr);
    negotiate.OnResponse(200, L"HTTP/1.1 200 OK\r\nContent-Length: 38\r\n", nullptr, nullptr);
    const HttpAnswer last = callback.FinalHttpAnswer();
    EXPECT_EQ(last.status, 200u);
    EXPECT_TRUE(last.lengthAnnounced);
    EXPECT_EQ(last.announcedLength, 38u);
}
}  // namespace
