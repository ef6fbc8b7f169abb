// The download worker against the stand-in update server, under Wine's
// urlmon. Where the moniker's own verdict on a faulty answer differs between
// Wine and Windows, the worker is held to pass on whatever the moniker said.
#include <gtest/gtest.h>

#include <windows.h>

#include <iostream>
#include <memory>
#include <thread>

#include "DownloadMessages.h"
#include "DownloadWorker.h"
#include "EngineSupport.h"
#include "UniqueHandle.h"

namespace {
constexpr DWORD kDownloadTimeoutMs = 30000;
constexpr std::uint32_t kInstallerSize = 300 * 1024;  // what the wrapper serves
// Large enough that a download cancelled after its first megabyte has most of
// its way still ahead, small enough that a moniker which ignores the cancel
// (Wine's does, see below) still ends within seconds at loopback speed.
constexpr unsigned largeMegabytes = 64;

bool RunsUnderWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll"), "wine_get_version") != nullptr;
}

class DownloadWorkerTest : public testing::Test {
protected:
    void SetUp() override
    {
        server = UpdateServer();
        if (server.empty()) GTEST_SKIP() << "QUILLON_UPDATE_SERVER not set; run through run_engine_tests.py";
        ReadBackFrom(owner, worker);
        worker.Init(owner.get());
    }

    // The owner reads reports and outcomes back from the worker, as the dialog does.
    static void ReadBackFrom(OwnerWindow& window, DownloadWorker& from)
    {
        window.readProgress = [&from](WPARAM generation, DownloadProgress& report) {
            return from.ReadProgress(generation, report);
        };
        window.takeOutcome = [&from](WPARAM generation, bool& arrived) {
            return from.TakeOutcome(generation, arrived);
        };
    }
    void TearDown() override
    {
        worker.Stop();
        RemoveTree(worker.DownloadDir());
    }

    // One download to its end: the completion, then the thread's end, then
    // whatever the thread may still have queued.
    void Download(const std::wstring& baseUrl, const std::wstring& fileName)
    {
        owner.reports.clear();
        owner.done.clear();
        worker.baseUrl = baseUrl;
        worker.fileName = fileName;
        worker.Start();
        ASSERT_TRUE(owner.PumpUntil([&] { return !owner.done.empty(); }, kDownloadTimeoutMs))
            << "no WM_DOWNLOAD_DONE for " << Narrow(fileName);
        worker.Stop();  // the thread has posted its completion and sends nothing more
        owner.Drain();
    }

    // ended: the download has ended, and no report may follow its completion.
    void ExpectEveryReportSentAndFolded(bool ended = true)
    {
        for (const SeenReport& seen : owner.reports) {
            EXPECT_TRUE(seen.sentByAnotherThread) << "a report that was not sent by the download thread";
            EXPECT_GE(seen.record.statusCode, 1u) << "a report that could not be read back";
            EXPECT_LE(seen.record.statusCode, 34u) << "a report that could not be read back";
            EXPECT_EQ(seen.generation, owner.reports.front().generation) << "reports of two downloads";
        }
        if (ended) {
            EXPECT_EQ(owner.reportsWhenDone, owner.reports.size()) << "a report came after the completion";
        }
    }

    std::wstring server;
    OwnerWindow owner;
    DownloadWorker worker;
};

TEST_F(DownloadWorkerTest, DownloadLandsAtLocalPathWithEveryReportSent)
{
    Download(server + L"/files", L"WRZ_QVL_Keyward_Install.exe");
    EXPECT_EQ(owner.done, std::vector<WPARAM>{1});
    EXPECT_EQ(worker.LocalPath(), worker.DownloadDir() + L"\\WRZ_QVL_Keyward_Install.exe");
    const std::string bytes = ReadFileBytes(worker.LocalPath());
    EXPECT_EQ(bytes.size(), kInstallerSize);
    EXPECT_TRUE(bytes == ReadFileBytes(ServedFile(L"WRZ_QVL_Keyward_Install.exe")));

    ASSERT_FALSE(owner.reports.empty());
    ExpectEveryReportSentAndFolded();
    // The moniker's totals reach the owner unchanged: the file's full size.
    EXPECT_EQ(owner.MaxProgress(), kInstallerSize);
}

// A retried or later download reuses the worker: the event is cleared, the
// old thread closed, and the file goes to the same directory.
TEST_F(DownloadWorkerTest, StartAfterAFinishedDownloadRestartsCleanly)
{
    for (int round = 0; round < 2; ++round) {
        Download(server + L"/files", L"WRZ_QVLVer.ini");
        EXPECT_EQ(owner.done, std::vector<WPARAM>{1}) << "round " << round;
        EXPECT_EQ(GetPrivateProfileIntW(L"ServerSoftVersion", L"LatestVersion", 0, worker.LocalPath().c_str()), 7u);
    }
    Download(server + L"/pattern/5000", L"WRZ_QVL_Keyward_Install.exe");
    EXPECT_EQ(owner.done, std::vector<WPARAM>{1});
    EXPECT_TRUE(ReadFileBytes(worker.LocalPath()) == PatternBytes(5000));
    EXPECT_TRUE(FileExists(worker.DownloadDir() + L"\\WRZ_QVLVer.ini")) << "both files side by side";
}

TEST_F(DownloadWorkerTest, BaseUrlEndingInSlashGivesADoubleSlash)
{
    Download(server + L"/files/", L"WRZ_QVLVer.ini");
    EXPECT_EQ(owner.done, std::vector<WPARAM>{1});

    ScratchDirectory scratch;
    ASSERT_TRUE(SUCCEEDED(DownloadDirectly(server + L"/requests", scratch / L"requests.txt")));
    EXPECT_NE(ReadFileBytes(scratch / L"requests.txt").find("/files//WRZ_QVLVer.ini"), std::string::npos);
}

// No server address is a failed download, reported at once, so the owner can
// offer a retry instead of waiting for ever.
TEST_F(DownloadWorkerTest, EmptyBaseUrlIsReportedAsAFailure)
{
    const DWORD start = GetTickCount();
    Download(L"", L"WRZ_QVLVer.ini");
    EXPECT_EQ(owner.done, std::vector<WPARAM>{0});
    EXPECT_TRUE(owner.reports.empty());
    EXPECT_LT(GetTickCount() - start, 5000u);
    EXPECT_FALSE(FileExists(worker.LocalPath()));
}

// Each faulty answer ends in exactly one completion. An error status fails
// the download whatever the moniker made of it (Wine's hands the error page
// over as the file), and nothing of the page is left at LocalPath; a page
// sent with 200 is a file like any other here. Connection refused fails
// everywhere.
TEST_F(DownloadWorkerTest, ServerFaultsEndInOneCompletion)
{
    enum Expected { Arrives, Fails, AsTheMonikerSays };
    struct Case { const wchar_t* path; const char* what; Expected expected; bool hangsUnderWine; };
    const Case cases[] = {
        {L"/fault/404", "404 page", Fails, false},
        {L"/fault/500", "500 page", Fails, false},
        {L"/files/no-such-dir", "missing file (404)", Fails, false},
        {L"/fault/html", "HTML error page with status 200", Arrives, false},
        {L"/fault/status/204", "204 No Content", Fails, false},
        {L"/fault/status/206", "206 with a part of the body", Fails, false},
        {L"/fault/short/200000", "body closed before the announced length", Fails, false},
        {L"/fault/reset/200000", "connection reset mid-body", AsTheMonikerSays, true},
    };
    ScratchDirectory scratch;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Wine's urlmon leaves a binding whose connection was reset unfinished
        // for good (HttpProtocol_on_error "Not handling error 10054"), so
        // neither the moniker nor the worker would ever return.
        if (c.hangsUnderWine && RunsUnderWine()) {
            std::cout << "  skipped under Wine: " << c.what << "\n";
            continue;
        }
        const HRESULT direct = DownloadDirectly(server + c.path + L"/direct.bin", scratch / L"direct.bin");
        // A file of that name from an earlier download must not survive a
        // failed one either.
        worker.fileName = L"fault.bin";
        WriteFileBytes(worker.LocalPath(), "left from before");
        Download(server + c.path, L"fault.bin");
        ASSERT_EQ(owner.done.size(), 1u);
        const bool arrived = c.expected == Arrives || (c.expected == AsTheMonikerSays && SUCCEEDED(direct));
        EXPECT_EQ(owner.done[0], arrived ? 1u : 0u);
        EXPECT_EQ(FileExists(worker.LocalPath()), arrived);
        ExpectEveryReportSentAndFolded();
        std::cout << "  moniker on " << c.what << ": 0x" << std::hex << static_cast<unsigned long>(direct) << std::dec
                  << ", worker reported " << owner.done[0] << "\n";
    }

    // Nothing listens on port 1 of the loopback address.
    Download(L"http://127.0.0.1:1", L"refused.bin");
    EXPECT_EQ(owner.done, std::vector<WPARAM>{0});
    EXPECT_FALSE(FileExists(worker.LocalPath()));
}

// Retry after an error status: once the server has the file again, the same
// worker fetches it whole.
TEST_F(DownloadWorkerTest, RetryAfterAnErrorStatusFetchesTheFile)
{
    const std::wstring served = ServedFile(L"retry.ini");
    DeleteFileW(served.c_str());
    Download(server + L"/files", L"retry.ini");
    EXPECT_EQ(owner.done, std::vector<WPARAM>{0});
    EXPECT_FALSE(FileExists(worker.LocalPath()));

    WriteFileBytes(served, "[ServerSoftVersion]\r\nLatestVersion=9\r\n");
    Download(server + L"/files", L"retry.ini");
    DeleteFileW(served.c_str());
    EXPECT_EQ(owner.done, std::vector<WPARAM>{1});
    EXPECT_EQ(GetPrivateProfileIntW(L"ServerSoftVersion", L"LatestVersion", 0, worker.LocalPath().c_str()), 9u);
}

// A directory that is not there, or a directory where the file should go:
// no file can be written, and the download fails, whatever the moniker says
// (Wine's answers S_OK to both).
TEST_F(DownloadWorkerTest, UnwritableDownloadPathIsAFailedDownload)
{
    ScratchDirectory scratch;
    const HRESULT intoMissing =
        DownloadDirectly(server + L"/files/WRZ_QVLVer.ini", scratch / L"missing\\WRZ_QVLVer.ini");
    ASSERT_TRUE(CreateDirectoryW((scratch / L"WRZ_QVLVer.ini").c_str(), nullptr));
    const HRESULT ontoDirectory = DownloadDirectly(server + L"/files/WRZ_QVLVer.ini", scratch / L"WRZ_QVLVer.ini");

    worker.fileName = L"WRZ_QVLVer.ini";
    ASSERT_TRUE(CreateDirectoryW(worker.LocalPath().c_str(), nullptr));
    Download(server + L"/files", L"WRZ_QVLVer.ini");
    EXPECT_EQ(owner.done, std::vector<WPARAM>{0});
    EXPECT_TRUE(DirectoryExists(worker.LocalPath()));
    RemoveDirectoryW(worker.LocalPath().c_str());

    // A name with a folder in it that does not exist below the download
    // folder; the server answers its URL with the file.
    const std::wstring name = L"missing\\WRZ_QVLVer.ini";
    ASSERT_TRUE(SUCCEEDED(DownloadDirectly(DownloadUrl(server + L"/files", name), scratch / L"direct.ini")));
    ASSERT_TRUE(FileExists(scratch / L"direct.ini")) << "the server does not answer the URL with the file";
    Download(server + L"/files", name);
    EXPECT_EQ(owner.done, std::vector<WPARAM>{0});
    EXPECT_FALSE(FileExists(worker.LocalPath()));
    std::cout << "  moniker into a missing directory: 0x" << std::hex << static_cast<unsigned long>(intoMissing)
              << ", onto a directory: 0x" << static_cast<unsigned long>(ontoDirectory) << std::dec << "\n";
}

// A slow server is not a failed one: a trickle and a stall both end with the
// whole file, and the trickle shows in several reports.
TEST_F(DownloadWorkerTest, SlowAndStallingServersDeliverTheWholeFile)
{
    Download(server + L"/fault/trickle/20/4096", L"trickle.bin");
    EXPECT_EQ(owner.done, std::vector<WPARAM>{1});
    EXPECT_TRUE(ReadFileBytes(worker.LocalPath()) == PatternBytes(4096));
    EXPECT_GE(owner.reports.size(), 3u);
    ExpectEveryReportSentAndFolded();

    const DWORD start = GetTickCount();
    Download(server + L"/fault/stall/1500/65536", L"stall.bin");
    EXPECT_GE(GetTickCount() - start, 1400u);
    EXPECT_EQ(owner.done, std::vector<WPARAM>{1});
    EXPECT_TRUE(ReadFileBytes(worker.LocalPath()) == PatternBytes(65536));
}

// Only the current download's own messages can be read back: a made-up
// completion or report, one of an earlier download, or any with a generation
// of its own finds nothing, and the outcome is handed out once, after the end.
TEST_F(DownloadWorkerTest, MessagesOfOtherDownloadsOrMadeUpOnesFindNothing)
{
    Download(server + L"/files", L"WRZ_QVLVer.ini");
    ASSERT_EQ(owner.done, std::vector<WPARAM>{1});
    ASSERT_FALSE(owner.reports.empty());
    const WPARAM first = owner.reports.front().generation;

    owner.reports.clear();
    owner.done.clear();
    worker.baseUrl = server + L"/fault/trickle/30/2048";  // some seconds of reports
    worker.fileName = L"trickle.bin";
    worker.Start();
    ASSERT_TRUE(owner.PumpUntil([&] { return !owner.reports.empty(); }, kDownloadTimeoutMs));
    const WPARAM current = owner.reports.front().generation;
    EXPECT_NE(current, first);

    DownloadProgress report{};
    bool arrived = false;
    for (WPARAM forged : {first, current + 1, current - 1, WPARAM{0}, ~WPARAM{0}}) {
        EXPECT_FALSE(worker.ReadProgress(forged, report)) << forged;
        EXPECT_FALSE(worker.TakeOutcome(forged, arrived)) << forged;
    }
    EXPECT_TRUE(worker.ReadProgress(current, report));
    EXPECT_FALSE(worker.TakeOutcome(current, arrived)) << "the download still runs";

    // A completion posted mid-download, even with the right generation, and
    // one with wParam 1 (success, as the message used to say it).
    PostMessageW(owner.get(), WM_DOWNLOAD_DONE, current, 0);
    PostMessageW(owner.get(), WM_DOWNLOAD_DONE, 1, 0);
    ASSERT_TRUE(owner.PumpUntil([&] { return owner.done.size() >= 3; }, kDownloadTimeoutMs));
    EXPECT_EQ(owner.done, (std::vector<WPARAM>{kOutcomeNotTaken, kOutcomeNotTaken, 1}));
    EXPECT_FALSE(worker.TakeOutcome(current, arrived)) << "handed out once";
    worker.Stop();
    EXPECT_FALSE(worker.ReadProgress(current, report)) << "a stopped download is no longer the current one";
    EXPECT_TRUE(ReadFileBytes(worker.LocalPath()) == PatternBytes(2048));
}

// The fetch may begin before the owner window exists: its reports and its
// end are held, and reach the window once it is named.
TEST_F(DownloadWorkerTest, ReportsAreHeldUntilTheOwnerIsNamed)
{
    DownloadWorker early;
    OwnerWindow later;
    ReadBackFrom(later, early);
    early.Init(nullptr);
    early.baseUrl = server + L"/files";
    early.fileName = L"WRZ_QVLVer.ini";
    early.Start();
    const DWORD start = GetTickCount();
    while (!FileExists(early.LocalPath()) && GetTickCount() - start < kDownloadTimeoutMs) Sleep(20);
    Sleep(300);  // the end comes after the file
    later.Drain();
    EXPECT_TRUE(later.reports.empty() && later.done.empty());

    early.AttachOwner(later.get());
    ASSERT_TRUE(later.PumpUntil([&] { return !later.done.empty(); }, kDownloadTimeoutMs));
    EXPECT_EQ(later.done, std::vector<WPARAM>{1});
    ASSERT_EQ(later.reports.size(), 1u) << "the latest report, announced once";
    EXPECT_NE(later.reports[0].record.statusCode, 0xDEADu);
    early.Stop();
    RemoveTree(early.DownloadDir());
}

// How long a cancelled download may take to end. Windows' moniker gives up at
// the next report, within moments. Wine's (8.0) reports nothing between the
// first block and the end of the body and disregards E_ABORT from OnProgress
// altogether, so there a cancelled download runs to its end and counts as a
// success: bounded by the size of the large file, not by the worker. The
// callback's E_ABORT itself is tested on its own.
DWORD CancelBoundMs()
{
    return RunsUnderWine() ? 30000 : 5000;
}

// Stop on the owner's own thread during a download, while the
// download thread waits in a send to that thread: the wait serves the send,
// the download goes on to its next report and gives up (or, under Wine,
// whose moniker disregards E_ABORT, runs to its end), and Stop returns.
// Waiting without serving, both threads would wait for each other for good.
// From the start of the wait the download is no longer the current one: its
// completion, which comes once, finds nothing to take.
TEST_F(DownloadWorkerTest, StopWhileTheDownloadWaitsInASendToThisThread)
{
    // Half the file at once, then a pause of some seconds: the download is
    // surely still running when Stop begins, however loaded the machine is
    // (over loopback a whole large file can arrive before this thread pumps).
    constexpr unsigned kStalledBytes = 8u * 1024u * 1024u;
    worker.baseUrl = server + L"/fault/stall/6000/" + std::to_wstring(kStalledBytes);
    worker.fileName = L"WRZ_QVL_Keyward_Install.exe";
    worker.Start();
    ASSERT_TRUE(owner.PumpUntil([&] { return owner.MaxProgress() > 0 || !owner.done.empty(); }, kDownloadTimeoutMs));
    ASSERT_TRUE(owner.done.empty()) << "the download ended before it could be stopped";
    ASSERT_LT(owner.MaxProgress(), kStalledBytes);
    ExpectEveryReportSentAndFolded(false);
    const std::size_t readBefore = owner.reports.size();
    // No more pumping here: the download's next report waits for this thread.
    Sleep(500);
    // A hang is caught here rather than by the wrapper's time-out.
    UniqueHandle stopped(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread watchdog([&] {
        if (WaitForSingleObject(stopped.get(), CancelBoundMs() + 30000) != WAIT_OBJECT_0) {
            std::cout << "Stop did not return: the download and this thread wait for each other\n" << std::flush;
            ExitProcess(3);
        }
    });
    const DWORD start = GetTickCount();
    worker.Stop();
    const DWORD elapsed = GetTickCount() - start;
    SetEvent(stopped.get());
    watchdog.join();
    EXPECT_LT(elapsed, CancelBoundMs());
    std::cout << "  Stop returned after " << elapsed << " ms\n";
    EXPECT_GT(owner.reports.size(), readBefore) << "the report the download waited with was not served";
    for (std::size_t i = readBefore; i < owner.reports.size(); ++i)
        EXPECT_TRUE(owner.reports[i].sentByAnotherThread);

    owner.Drain();
    EXPECT_EQ(owner.done, std::vector<WPARAM>{kOutcomeNotTaken}) << "one completion, of a download no longer current";
    if (!RunsUnderWine()) {
        EXPECT_FALSE(FileExists(worker.LocalPath())) << "a cancelled download leaves no file";
    }
}

// The dialog closes during a download: its window is gone before the worker
// is destroyed. The next report finds no window, the download aborts, and
// the destruction returns once the thread has ended.
TEST_F(DownloadWorkerTest, DestructionAfterTheWindowIsGoneCancelsTheDownload)
{
    OwnerWindow closingOwner;
    auto closingWorker = std::make_unique<DownloadWorker>();
    ReadBackFrom(closingOwner, *closingWorker);
    closingWorker->Init(closingOwner.get());
    closingWorker->baseUrl = server + L"/large/" + std::to_wstring(largeMegabytes);
    closingWorker->fileName = L"WRZ_QVL_Keyward_Install.exe";
    closingWorker->Start();
    const bool underway = closingOwner.PumpUntil(
        [&] { return closingOwner.MaxProgress() > 0 || !closingOwner.done.empty(); }, kDownloadTimeoutMs);
    closingOwner.Destroy();
    const std::wstring directory = closingWorker->DownloadDir();

    const DWORD start = GetTickCount();
    closingWorker.reset();
    EXPECT_LT(GetTickCount() - start, CancelBoundMs());
    EXPECT_TRUE(underway);
    EXPECT_TRUE(closingOwner.done.empty());
    EXPECT_FALSE(DirectoryExists(directory)) << "the download folder stayed behind";
    RemoveTree(directory);
}
// A download that does not end when cancelled (no data arrive, so no report
// gives it the chance; Wine's moniker also hangs for good on a connection
// reset; here the thread may also sit in a report to this very thread):
// destruction gives up after kStopWaitOnDestructionMs instead of keeping the
// process alive. The thread works on its own copy of the job, so it still
// ends cleanly later and reports to the window, which lives on here. Nothing
// of the download stays behind: the folder goes with the worker, and the
// download that outlived it finds no folder to write into.
TEST_F(DownloadWorkerTest, DestructionGivesUpOnADownloadThatDoesNotEnd)
{
    OwnerWindow stallOwner;
    auto stalled = std::make_unique<DownloadWorker>();
    ReadBackFrom(stallOwner, *stalled);
    stalled->Init(stallOwner.get());
    // Half of the file, then 20 s of silence, then the rest.
    stalled->baseUrl = server + L"/fault/stall/20000/400000";
    stalled->fileName = L"WRZ_QVL_Keyward_Install.exe";
    stalled->Start();
    ASSERT_TRUE(stallOwner.PumpUntil([&] { return stallOwner.MaxProgress() > 0; }, kDownloadTimeoutMs));
    const std::wstring directory = stalled->DownloadDir();

    // Once the worker is gone there is nothing to read back; the messages alone count.
    stallOwner.readProgress = nullptr;
    stallOwner.takeOutcome = nullptr;
    const DWORD start = GetTickCount();
    stalled.reset();
    const DWORD elapsed = GetTickCount() - start;
    std::cout << "  destruction returned after " << elapsed << " ms\n";
    EXPECT_LT(elapsed, kStopWaitOnDestructionMs + 3000);
    EXPECT_FALSE(DirectoryExists(directory)) << "the download folder stayed behind";

    EXPECT_TRUE(stallOwner.PumpUntil([&] { return !stallOwner.done.empty(); }, kDownloadTimeoutMs))
        << "the abandoned download never reported its end";
    stallOwner.Drain();
    EXPECT_FALSE(DirectoryExists(directory)) << "the download that outlived the worker left its file";
    RemoveTree(directory);
}
}  // namespace
