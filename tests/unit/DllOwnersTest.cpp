#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <algorithm>

#include "DllOwners.h"
#include "HelperProcess.h"
#include "OwnerPrompt.h"
#include "TestPaths.h"
#include "UniqueHandle.h"

namespace {
TEST(BuildOwnerMessage, LeadInBlankLineThenOnePathPerLine)
{
    struct Case { std::wstring leadIn; std::vector<std::wstring> paths; std::wstring expected; };
    const Case cases[] = {
        {L"Close these programs:", {L"C:\\A\\a.exe", L"C:\\B\\b.exe"}, L"Close these programs:\n\nC:\\A\\a.exe\nC:\\B\\b.exe\n"},
        {L"", {L"C:\\A\\a.exe"}, L"\n\nC:\\A\\a.exe\n"},
        {L"Lead", {L""}, L"Lead\n\n\n"},  // an owner that ended leaves an empty line
        {L"Lead", {}, L"Lead\n\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(BuildOwnerMessage(c.leadIn, c.paths), c.expected);
}

TEST(LanguageFilePath, FormsLangsFolderAndDecimalLanguage)
{
    EXPECT_EQ(LanguageFilePath(L"D:\\App", 1033), L"D:\\App\\langs\\1033.ini");
    EXPECT_EQ(LanguageFilePath(L"C:\\P", 2052), L"C:\\P\\langs\\2052.ini");
    EXPECT_EQ(LanguageFilePath(L"", 65535), L"\\langs\\65535.ini");
}

// Module names are matched with only 'a'..'z' folded; each owner is listed
// once, in the order of the snapshot.
TEST(GetDllOwnerList, MatchesBaseNamesFoldingOnlyAsciiLetters)
{
    const ProcessSnapshot snapshot = {
        {10, {L"app.exe", L"kernel32.dll", L"Shared.dll"}},
        {20, {L"other.exe"}},
        {30, {L"tool.exe", L"shared.dll", L"SHARED.DLL"}},
        {40, {L"\u00e4rger.dll"}},
        {50, {}},
    };
    struct Case { const wchar_t* dllName; std::vector<DWORD> owners; };
    const Case cases[] = {
        {L"KERNEL32.DLL", {10}},
        {L"shared.dll", {10, 30}},
        {L"\u00c4RGER.DLL", {}},               // U+00E4 is not folded to U+00C4
        {L"\u00e4rger.DLL", {40}},
        {L"C:\\Windows\\kernel32.dll", {}},    // base names carry no directory
        {L"", {}},
        {L"missing.dll", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(GetDllOwnerList(snapshot, c.dllName), c.owners);
}

class DllOwnerProcesses : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(BindPsapi(psapi_)); }

    // A copy of HeldModule.dll under name, of this program's kind unless
    // another is given.
    std::wstring CopyHeldModule(const std::wstring& name, const std::wstring& from = BesideTests(L"HeldModule.dll"))
    {
        const std::wstring path = scratch_ / name;
        CreateDirectoryW(path.substr(0, path.find_last_of(L'\\')).c_str(), nullptr);
        EXPECT_TRUE(CopyFileW(from.c_str(), path.c_str(), FALSE));
        return path;
    }
    const ProcessRecord* Find(const ProcessSnapshot& snapshot, DWORD processId)
    {
        for (const ProcessRecord& record : snapshot)
            if (record.processId == processId) return &record;
        return nullptr;
    }
    // Full paths of the holder's modules as the system lists them.
    std::vector<std::wstring> ModulePaths(DWORD processId)
    {
        std::vector<std::wstring> paths;
        UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
        std::vector<HMODULE> modules;
        if (!process || !ListProcessModules(psapi_.functions.enumProcessModulesEx, process.get(), modules)) return paths;
        for (HMODULE module : modules) {
            wchar_t path[MAX_PATH] = {};
            psapi_.functions.getModuleFileNameEx(process.get(), module, path, MAX_PATH);
            paths.emplace_back(path);
        }
        return paths;
    }

    BoundPsapi psapi_;
    ScratchDirectory scratch_{L"owners"};
};

// Two holders of one DLL are both owners, in the order the system lists the
// processes, each named by its executable's full path.
TEST_F(DllOwnerProcesses, ListsEveryOwnerByFullPathInListingOrder)
{
    const std::wstring dll = CopyHeldModule(L"OwnedModule.dll");
    DllHolderProcess first(scratch_ / L"first.ready", {dll});
    DllHolderProcess second(scratch_ / L"second.ready", {dll});
    ASSERT_TRUE(first.WaitUntilReady());
    ASSERT_TRUE(second.WaitUntilReady());

    const ProcessSnapshot snapshot = TakeProcessSnapshot(psapi_.functions);
    std::vector<DWORD> listed;
    for (const ProcessRecord& record : snapshot)
        if (record.processId == first.Id() || record.processId == second.Id()) listed.push_back(record.processId);
    ASSERT_EQ(listed.size(), 2u);

    EXPECT_EQ(GetDllOwnerList(snapshot, L"OWNEDMODULE.DLL"), listed);
    const std::wstring holder = BesideTests(L"DllHolder.exe");
    const std::vector<std::wstring> paths = GetDllOwnerNameList(psapi_.functions, snapshot, L"ownedmodule.dll");
    ASSERT_EQ(paths.size(), 2u);
    for (const std::wstring& path : paths) EXPECT_EQ(lstrcmpiW(path.c_str(), holder.c_str()), 0);
}

// A DLL loaded from two folders under one base name is one module name, and
// its process one owner.
TEST_F(DllOwnerProcesses, ADllLoadedTwiceUnderOneNameCountsOnce)
{
    const std::wstring a = CopyHeldModule(L"a\\Twice.dll");
    const std::wstring b = CopyHeldModule(L"b\\Twice.dll");
    DllHolderProcess holder(scratch_ / L"twice.ready", {a, b});
    ASSERT_TRUE(holder.WaitUntilReady());
    const std::vector<std::wstring> loaded = ModulePaths(holder.Id());
    ASSERT_EQ(std::count_if(loaded.begin(), loaded.end(),
                            [](const std::wstring& p) { return p.size() >= 9 && p.substr(p.size() - 9) == L"Twice.dll"; }),
              2)
        << "the system did not load the second copy";

    const ProcessSnapshot snapshot = TakeProcessSnapshot(psapi_.functions);
    const ProcessRecord* record = Find(snapshot, holder.Id());
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(std::count(record->moduleNames.begin(), record->moduleNames.end(), L"Twice.dll"), 1);
    EXPECT_EQ(GetDllOwnerList(snapshot, L"Twice.dll"), std::vector<DWORD>{holder.Id()});
}

// A DLL loaded after more than a hundred other modules is still found.
TEST_F(DllOwnerProcesses, FindsADllBeyondTheHundredthModule)
{
    std::vector<std::wstring> dlls;
    for (int i = 0; i < 105; ++i) dlls.push_back(CopyHeldModule(L"Filler" + std::to_wstring(i) + L".dll"));
    dlls.push_back(CopyHeldModule(L"LastLoaded.dll"));
    DllHolderProcess holder(scratch_ / L"many.ready", dlls);
    ASSERT_TRUE(holder.WaitUntilReady());
    const std::vector<std::wstring> loaded = ModulePaths(holder.Id());
    const auto last = std::find_if(loaded.begin(), loaded.end(),
                                   [](const std::wstring& p) { return p.find(L"LastLoaded.dll") != std::wstring::npos; });
    ASSERT_NE(last, loaded.end());
    ASSERT_GE(last - loaded.begin(), 100) << "the DLL must come after the first hundred modules";

    const ProcessSnapshot snapshot = TakeProcessSnapshot(psapi_.functions);
    EXPECT_EQ(GetDllOwnerList(snapshot, L"lastloaded.dll"), std::vector<DWORD>{holder.Id()});
}

// An owner that ends between the snapshot and the name query leaves an empty
// line; a process that cannot be listed has no module names.
TEST_F(DllOwnerProcesses, AnOwnerThatEndedGivesAnEmptyPath)
{
    const std::wstring dll = CopyHeldModule(L"Ending.dll");
    DllHolderProcess holder(scratch_ / L"ending.ready", {dll});
    ASSERT_TRUE(holder.WaitUntilReady());
    const ProcessSnapshot snapshot = TakeProcessSnapshot(psapi_.functions);
    ASSERT_EQ(GetDllOwnerList(snapshot, L"Ending.dll"), std::vector<DWORD>{holder.Id()});
    holder.End();
    EXPECT_EQ(GetDllOwnerNameList(psapi_.functions, snapshot, L"Ending.dll"), std::vector<std::wstring>{L""});
}

// The 64-bit plug-in sees the modules of 32-bit processes as well: a 32-bit
// and a 64-bit program that hold a DLL of one name are both its owners.
TEST_F(DllOwnerProcesses, ListsOwnersOfBothKinds)
{
    if (sizeof(void*) == 4) GTEST_SKIP() << "a 32-bit process cannot list the modules of 64-bit processes";
    const std::wstring own = CopyHeldModule(L"own\\BothKinds.dll");
    const std::wstring x86 = CopyHeldModule(L"x86\\BothKinds.dll", Beside32BitTests(L"HeldModule.dll"));
    DllHolderProcess holder64(scratch_ / L"own.ready", {own});
    DllHolderProcess holder32(scratch_ / L"x86.ready", {x86}, Beside32BitTests(L"DllHolder.exe"));
    ASSERT_TRUE(holder64.WaitUntilReady());
    ASSERT_TRUE(holder32.WaitUntilReady());
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, holder32.Id()));
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(process.get(), &wow64));
    ASSERT_TRUE(wow64) << "the other holder should be a 32-bit program";

    const ProcessSnapshot snapshot = TakeProcessSnapshot(psapi_.functions);
    std::vector<DWORD> owners = GetDllOwnerList(snapshot, L"bothkinds.DLL");
    std::sort(owners.begin(), owners.end());
    std::vector<DWORD> expected = {holder64.Id(), holder32.Id()};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(owners, expected);
    std::vector<std::wstring> paths = GetDllOwnerNameList(psapi_.functions, snapshot, L"BothKinds.dll");
    for (std::wstring& path : paths) CharLowerW(&path[0]);
    std::sort(paths.begin(), paths.end());
    std::vector<std::wstring> holders = {BesideTests(L"DllHolder.exe"), Beside32BitTests(L"DllHolder.exe")};
    for (std::wstring& path : holders) CharLowerW(&path[0]);
    std::sort(holders.begin(), holders.end());
    EXPECT_EQ(paths, holders);
}

// Wine lists a 32-bit process's own modules to a 64-bit process whatever
// filter it is asked with; Windows lists them only with LIST_MODULES_ALL,
// and without it the 64-bit plug-in would find none of their DLLs.
DWORD g_filterAsked = 0xFFFFFFFF;
BOOL WINAPI RecordTheFilter(HANDLE, HMODULE*, DWORD, DWORD* bytesNeeded, DWORD filter)
{
    g_filterAsked = filter;
    *bytesNeeded = 0;
    return TRUE;
}

TEST(ListProcessModules, AsksForTheModulesOfBothKinds)
{
    std::vector<HMODULE> modules;
    EXPECT_TRUE(ListProcessModules(RecordTheFilter, GetCurrentProcess(), modules));
    EXPECT_EQ(g_filterAsked, static_cast<DWORD>(LIST_MODULES_ALL));
    EXPECT_TRUE(modules.empty());
}

BOOL WINAPI FailToListProcesses(DWORD*, DWORD, DWORD*)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

TEST_F(DllOwnerProcesses, FailingProcessListGivesAnEmptySnapshot)
{
    PsapiFunctions failing = psapi_.functions;
    failing.enumProcesses = FailToListProcesses;
    EXPECT_TRUE(TakeProcessSnapshot(failing).empty());
    // The real list holds this program with its own modules.
    const ProcessSnapshot snapshot = TakeProcessSnapshot(psapi_.functions);
    const ProcessRecord* self = Find(snapshot, GetCurrentProcessId());
    ASSERT_NE(self, nullptr);
    EXPECT_NE(std::find(self->moduleNames.begin(), self->moduleNames.end(), L"unit_tests.exe"), self->moduleNames.end());
}

}  // namespace
