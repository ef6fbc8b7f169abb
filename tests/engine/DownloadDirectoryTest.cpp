#include <gtest/gtest.h>

#include <windows.h>

#include "DownloadDirectory.h"
#include "DownloadWorker.h"
#include "EngineSupport.h"
#include "TestPaths.h"
#include "UniqueHandle.h"

namespace {
TEST(DownloadDirectoryTest, CandidateNamesAreLowerCaseHexWithoutLeadingZeros)
{
    struct Case { DWORD n; const wchar_t* name; };
    const Case cases[] = {{0, L"qvl0.tmp"}, {0x1a2b, L"qvl1a2b.tmp"}, {0xFFFFFFFF, L"qvlffffffff.tmp"}};
    for (const Case& c : cases) EXPECT_EQ(DownloadDirCandidate(L"C:\\T\\", c.n), std::wstring(L"C:\\T\\") + c.name);
}

// Which folders of the temporary directory count as an earlier run's: the
// names the updater makes, plain directories, and nothing inside but its own
// files and the lock.
TEST(DownloadDirectoryTest, LeftoverFolderDecision)
{
    const std::vector<std::wstring> own = {L"WRZ_QVLVer.ini", L"WRZ_QVL_Keyward_Install.exe"};
    const std::vector<FolderEntry> ours = {{L"WRZ_QVLVer.ini", true}, {L"wrz_qvl_keyward_install.EXE", true},
                                           {L"qvl.lock", true}};
    struct Case { const char* what; const wchar_t* name; bool plain; std::vector<FolderEntry> entries; bool leftover; };
    const Case cases[] = {
        {"ours", L"qvl1a2b.tmp", true, ours, true},
        {"empty", L"qvl0.tmp", true, {}, true},
        {"eight digits", L"qvlffffffff.tmp", true, ours, true},
        {"nine digits", L"qvl100000000.tmp", true, ours, false},
        {"no digits", L"qvl.tmp", true, {}, false},
        {"a leading zero", L"qvl01.tmp", true, {}, false},
        {"upper-case digits", L"qvlAB.tmp", true, {}, false},
        {"not hexadecimal", L"qvlxyz.tmp", true, {}, false},
        {"another suffix", L"qvl1a.tmp2", true, {}, false},
        {"another prefix", L"xqvl1a.tmp", true, {}, false},
        {"a link to elsewhere", L"qvl1a.tmp", false, ours, false},
        {"someone else's file inside", L"qvl1a.tmp", true, {{L"WRZ_QVLVer.ini", true}, {L"report.docx", true}}, false},
        {"a mark beside the installer", L"qvl1a.tmp", true, {{L"WRZ_QVL_Keyward_Install.exe.mark", true}}, false},
        {"a directory inside", L"qvl1a.tmp", true, {{L"WRZ_QVLVer.ini", false}}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsLeftoverDownloadFolder(c.name, c.plain, c.entries, own), c.leftover) << c.what;
}

// Taken names, whether directories or files, are walked past; the count wraps
// around; any other failure ends the walk with a name where nothing exists.
// Each folder holds its lock, which nobody can delete while the run lasts,
// and removing the folder leaves nothing of it.
TEST(DownloadDirectoryTest, CollisionsTakeTheNextNumberAndEachFolderHoldsItsLock)
{
    ScratchDirectory scratch;
    const std::wstring temp = scratch.Path() + L"\\";
    ASSERT_TRUE(CreateDirectoryW((scratch / L"qvl10.tmp").c_str(), nullptr));
    CloseHandle(CreateFileW((scratch / L"qvl11.tmp").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    DownloadFolder folder;
    folder.Create(temp, 0x10);
    EXPECT_EQ(folder.Path(), scratch / L"qvl12.tmp");
    EXPECT_TRUE(DirectoryExists(scratch / L"qvl12.tmp"));
    const std::wstring lock = scratch / L"qvl12.tmp\\qvl.lock";
    EXPECT_TRUE(FileExists(lock));
    EXPECT_FALSE(DeleteFileW(lock.c_str())) << "the lock of a running updater can be deleted";
    ASSERT_TRUE(WriteFileBytes(folder.Path() + L"\\a.ini", "x"));
    ASSERT_TRUE(WriteFileBytes(folder.Path() + L"\\b.exe", "x"));
    folder.Remove({L"a.ini"});
    EXPECT_FALSE(FileExists(folder.Path() + L"\\a.ini"));
    EXPECT_FALSE(FileExists(lock));
    EXPECT_TRUE(FileExists(folder.Path() + L"\\b.exe")) << "a file not named stays, and the folder with it";
    DownloadFolder again;
    again.Create(temp, 0x12);
    ASSERT_EQ(again.Path(), scratch / L"qvl13.tmp");
    ASSERT_TRUE(DirectoryExists(scratch / L"qvl13.tmp"));
    again.Remove({});
    EXPECT_FALSE(DirectoryExists(scratch / L"qvl13.tmp")) << "an empty folder goes";

    ASSERT_TRUE(CreateDirectoryW((scratch / L"qvlffffffff.tmp").c_str(), nullptr));
    DownloadFolder wrapped;
    wrapped.Create(temp, 0xFFFFFFFF);
    EXPECT_EQ(wrapped.Path(), scratch / L"qvl0.tmp");
    EXPECT_TRUE(DirectoryExists(scratch / L"qvl0.tmp"));

    DownloadFolder nowhere;
    nowhere.Create(scratch / L"missing\\", 5);
    EXPECT_EQ(nowhere.Path(), scratch / L"missing\\qvl5.tmp");
    EXPECT_FALSE(DirectoryExists(scratch / L"missing"));
}

// What earlier runs left is removed, and only that: a folder of this run, a
// folder whose lock a running updater holds, a folder with anything else in
// it, and a name that is not one of ours all stay. A file that cannot be
// deleted (an installer that still runs) keeps its folder.
TEST(DownloadDirectoryTest, LeftoverFoldersOfEarlierRunsAreRemoved)
{
    ScratchDirectory scratch;
    const std::wstring temp = scratch.Path() + L"\\";
    const std::vector<std::wstring> own = {L"WRZ_QVLVer.ini", L"WRZ_QVL_Keyward_Install.exe"};
    // Each folder and file must really be made, so that a folder that is
    // gone afterwards was removed, not never there.
    auto folderWith = [&](const wchar_t* name, std::initializer_list<const wchar_t*> files) {
        EXPECT_TRUE(CreateDirectoryW((scratch / name).c_str(), nullptr)) << Narrow(name);
        for (const wchar_t* file : files)
            EXPECT_TRUE(WriteFileBytes(scratch / name + L"\\" + file, "x")) << Narrow(file);
        return scratch / name;
    };
    const std::wstring leftover = folderWith(L"qvl1a.tmp", {L"WRZ_QVLVer.ini", L"WRZ_QVL_Keyward_Install.exe",
                                                            L"qvl.lock"});
    const std::wstring older = folderWith(L"qvl1b.tmp", {L"WRZ_QVLVer.ini"});  // from before the lock
    const std::wstring empty = folderWith(L"qvl1c.tmp", {});
    const std::wstring foreign = folderWith(L"qvl2a.tmp", {L"WRZ_QVLVer.ini", L"notes.txt"});
    const std::wstring otherName = folderWith(L"qvlx.tmp", {L"WRZ_QVLVer.ini"});
    const std::wstring nested = folderWith(L"qvl3a.tmp", {});
    folderWith(L"qvl3a.tmp\\sub", {});
    const std::wstring running = folderWith(L"qvl4a.tmp", {L"WRZ_QVL_Keyward_Install.exe"});
    const std::wstring installerRuns = folderWith(L"qvl5a.tmp", {L"WRZ_QVLVer.ini", L"WRZ_QVL_Keyward_Install.exe"});
    DownloadFolder current;
    current.Create(temp, 0x6a);
    ASSERT_EQ(current.Path(), scratch / L"qvl6a.tmp");
    ASSERT_TRUE(WriteFileBytes(current.Path() + L"\\WRZ_QVLVer.ini", "x"));
    // A running updater's lock, and an installer that runs (held open as the
    // loader holds it: no sharing for writing or deleting).
    const UniqueHandle lock(CreateFileW((running + L"\\qvl.lock").c_str(), GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW, 0, nullptr));
    const UniqueHandle image(CreateFileW((installerRuns + L"\\WRZ_QVL_Keyward_Install.exe").c_str(), GENERIC_READ,
                                         FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock && image);

    RemoveLeftoverDownloadFolders(temp, current.Path(), own);
    EXPECT_FALSE(DirectoryExists(leftover));
    EXPECT_FALSE(DirectoryExists(older));
    EXPECT_FALSE(DirectoryExists(empty));
    EXPECT_TRUE(FileExists(foreign + L"\\WRZ_QVLVer.ini")) << "a folder with a file of someone else's";
    EXPECT_TRUE(FileExists(otherName + L"\\WRZ_QVLVer.ini")) << "a name the updater never makes";
    EXPECT_TRUE(DirectoryExists(nested + L"\\sub"));
    EXPECT_TRUE(FileExists(running + L"\\WRZ_QVL_Keyward_Install.exe")) << "the folder of a running updater";
    EXPECT_TRUE(FileExists(current.Path() + L"\\WRZ_QVLVer.ini")) << "this run's own folder";
    EXPECT_TRUE(FileExists(installerRuns + L"\\WRZ_QVL_Keyward_Install.exe")) << "an installer that still runs";
    EXPECT_FALSE(FileExists(installerRuns + L"\\WRZ_QVLVer.ini"));
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
    owner.takeOutcome = [&](WPARAM generation, bool& arrived) { return worker.TakeOutcome(generation, arrived); };
    worker.baseUrl = L"http://127.0.0.1:1";
    worker.fileName = L"WRZ_QVLVer.ini";
    worker.Start();
    ASSERT_TRUE(owner.PumpUntil([&] { return !owner.done.empty(); }, 10000));
    EXPECT_EQ(owner.done, std::vector<WPARAM>{0});
    EXPECT_TRUE(owner.reports.empty());
}
}  // namespace
