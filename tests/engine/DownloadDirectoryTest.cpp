#include <gtest/gtest.h>

#include <windows.h>

#include "DownloadDirectory.h"
#include "DownloadWorker.h"
#include "EngineSupport.h"
#include "TestPaths.h"

namespace {
TEST(DownloadDirectoryTest, CandidateNamesAreLowerCaseHexWithoutLeadingZeros)
{
    struct Case { DWORD n; const wchar_t* name; };
    const Case cases[] = {{0, L"qvl0.tmp"}, {0x1a2b, L"qvl1a2b.tmp"}, {0xFFFFFFFF, L"qvlffffffff.tmp"}};
    for (const Case& c : cases) EXPECT_EQ(DownloadDirCandidate(L"C:\\T\\", c.n), std::wstring(L"C:\\T\\") + c.name);
}

// Taken names, whether directories or files, are walked past; the count wraps
// around; any other failure ends the walk with a name where nothing exists.
TEST(DownloadDirectoryTest, CollisionsTakeTheNextNumber)
{
    ScratchDirectory scratch;
    const std::wstring temp = scratch.Path() + L"\\";
    ASSERT_TRUE(CreateDirectoryW((scratch / L"qvl10.tmp").c_str(), nullptr));
    CloseHandle(CreateFileW((scratch / L"qvl11.tmp").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    EXPECT_EQ(CreateDownloadDir(temp, 0x10), scratch / L"qvl12.tmp");
    EXPECT_TRUE(DirectoryExists(scratch / L"qvl12.tmp"));

    ASSERT_TRUE(CreateDirectoryW((scratch / L"qvlffffffff.tmp").c_str(), nullptr));
    EXPECT_EQ(CreateDownloadDir(temp, 0xFFFFFFFF), scratch / L"qvl0.tmp");
    EXPECT_TRUE(DirectoryExists(scratch / L"qvl0.tmp"));

    EXPECT_EQ(CreateDownloadDir(scratch / L"missing\\", 5), scratch / L"missing\\qvl5.tmp");
    EXPECT_FALSE(DirectoryExists(scratch / L"missing"));
}

TEST(DownloadDirectoryTest, InitCreatesAPrivateDirectoryUnderTheTemporaryPath)
{
    wchar_t temp[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, temp);
    DownloadWorker first;
    DownloadWorker second;
    first.Init(nullptr);
    second.Init(nullptr);  // most likely the same tick count: the walk moves it on
    for (const DownloadWorker* worker : {&first, &second}) {
        const std::wstring& directory = worker->DownloadDir();
        ASSERT_EQ(directory.compare(0, length, temp), 0) << Narrow(directory);
        const std::wstring name = directory.substr(length);
        EXPECT_EQ(name.compare(0, 3, L"qvl"), 0);
        EXPECT_EQ(name.substr(name.size() - 4), L".tmp");
        EXPECT_EQ(name.find_first_not_of(L"0123456789abcdef", 3), name.size() - 4) << Narrow(name);
        EXPECT_TRUE(DirectoryExists(directory));
    }
    EXPECT_NE(first.DownloadDir(), second.DownloadDir());
    RemoveTree(first.DownloadDir());
    RemoveTree(second.DownloadDir());
}

// A temporary path that the system cannot give leaves no download directory,
// and a download then fails instead of writing beside the current directory.
TEST(DownloadDirectoryTest, NoTemporaryPathMeansFailedDownloads)
{
    const std::wstring tmp = Environment(L"TMP");
    const std::wstring tempVariable = Environment(L"TEMP");
    const std::wstring tooLong = L"C:\\" + std::wstring(300, L'd');
    SetEnvironmentVariableW(L"TMP", tooLong.c_str());
    SetEnvironmentVariableW(L"TEMP", tooLong.c_str());
    wchar_t probe[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, probe);
    OwnerWindow owner;
    DownloadWorker worker;
    worker.Init(owner.get());
    SetEnvironmentVariableW(L"TMP", tmp.empty() ? nullptr : tmp.c_str());
    SetEnvironmentVariableW(L"TEMP", tempVariable.empty() ? nullptr : tempVariable.c_str());
    if (length > 0 && length < MAX_PATH) {
        RemoveTree(worker.DownloadDir());
        GTEST_SKIP() << "this system still names a temporary path: " << Narrow(probe);
    }

    EXPECT_EQ(worker.DownloadDir(), L"");
    worker.baseUrl = L"http://127.0.0.1:1";
    worker.fileName = L"WRZ_QVLVer.ini";
    worker.Start();
    ASSERT_TRUE(owner.PumpUntil([&] { return !owner.done.empty(); }, 10000));
    EXPECT_EQ(owner.done, std::vector<WPARAM>{0});
    EXPECT_TRUE(owner.reports.empty());
}
}  // namespace
