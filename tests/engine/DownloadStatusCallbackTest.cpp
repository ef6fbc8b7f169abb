#include <gtest/gtest.h>

#include <windows.h>
#include <urlmon.h>

#include "DownloadMessages.h"
#include "DownloadStatusCallback.h"
#include "EngineSupport.h"
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
    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(moniker.QueryInterface(IID_IStream, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);

    // Starts at 1; the two successful queries each added one. Release never
    // frees, not even at 0: the object lives on its thread's stack.
    EXPECT_EQ(moniker.AddRef(), 4u);
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
}  // namespace
