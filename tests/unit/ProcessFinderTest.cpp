#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include "LoadedLibrary.h"
#include "NsisHost.h"
#include "ProcessFinder.h"
#include "TestPaths.h"
#include "HelperProcess.h"
#include "UniqueHandle.h"

namespace {
std::wstring OwnExecutableName()
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return BaseName(path);
}

std::wstring OwnExecutablePath()
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

class FindProcExport : public testing::Test {
protected:
    void SetUp() override
    {
        plugin_.reset(LoadLibraryW(BesideTests(L"Plugin.dll").c_str()));
        ASSERT_TRUE(plugin_) << "Plugin.dll not found beside the tests";
        findProc_ = plugin_.Find<NsisHost::Export>("FindProc");
        ASSERT_NE(findProc_, nullptr);
    }
    std::wstring Run(NsisHost& host)
    {
        host.SetVariable(10, L"untouched");
        host.Call(findProc_);
        EXPECT_TRUE(host.Stack().empty());
        EXPECT_TRUE(host.Leaked().empty());
        return host.R0();
    }
    LoadedLibrary plugin_;
    NsisHost::Export findProc_ = nullptr;
};

// What a script gets for names of this very test program, which certainly
// runs: only its exact executable name matches, in any letter case.
TEST_F(FindProcExport, AnswersByExecutableNameInAnyLetterCase)
{
    const std::wstring own = OwnExecutableName();
    std::wstring upper = own, lower = own;
    CharUpperW(&upper[0]);
    CharLowerW(&lower[0]);
    struct Case { std::wstring name; const wchar_t* expected; };
    const Case cases[] = {
        {own, L"1"},
        {upper, L"1"},
        {lower, L"1"},
        {OwnExecutablePath(), L"0"},                         // a directory part never matches
        {own.substr(0, own.size() - 4), L"0"},               // nor the name without extension
        {L"kernel32.dll", L"0"},                             // DLLs are not compared
        {L"Unknown", L"0"},                                  // unreadable processes are passed over
        {L"no-such-program-here.exe", L"0"},
        {std::wstring(260, L'a'), L"0"},                     // the longest name is searched
        {std::wstring(261, L'a'), L"632"},
        {L"", L"632"},
    };
    for (const Case& c : cases) {
        NsisHost host;
        host.Push(c.name);
        EXPECT_EQ(Run(host), c.expected) << "name of " << c.name.size() << " units: " << std::string(c.name.begin(), c.name.end()).substr(0, 40);
    }
}

// Names at and beyond the 1024-unit argument buffer, from a host with larger
// slots, are refused whole, and nothing is written past the buffer.
TEST_F(FindProcExport, OverlongArgumentsAndAnEmptyStackGive632)
{
    for (std::size_t length : {std::size_t{1023}, std::size_t{1024}, std::size_t{8191}}) {
        NsisHost host(8192);
        host.PushUnbounded(std::wstring(length, L'x'));
        EXPECT_EQ(Run(host), L"632") << length;
    }
    // A name cut to the buffer must not be searched: it would be this program's.
    NsisHost host(8192);
    host.PushUnbounded(std::wstring(1023 - OwnExecutableName().size(), L'\\') + OwnExecutableName() + L"tail");
    EXPECT_EQ(Run(host), L"632");

    NsisHost empty;
    EXPECT_EQ(Run(empty), L"632");
}

// On 64-bit Windows a 32-bit program cannot list the modules of 64-bit
// processes; services.exe is one of those in a 64-bit prefix.
TEST(FindProcessByName, SeesA64BitProgramOn64BitWindows)
{
    if (sizeof(void*) == 8) GTEST_SKIP() << "this program is 64-bit itself; see SeesA32BitProgram";
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    if (!wow64) GTEST_SKIP() << "a 32-bit system runs no 64-bit programs";

    DWORD servicesId = 0;
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
        if (lstrcmpiW(entry.szExeFile, L"services.exe") == 0) servicesId = entry.th32ProcessID;
    ASSERT_NE(servicesId, 0u);
    UniqueHandle services(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, servicesId));
    BOOL servicesWow64 = TRUE;
    ASSERT_TRUE(IsWow64Process(services.get(), &servicesWow64));
    ASSERT_FALSE(servicesWow64) << "services.exe should be a 64-bit program here";

    EXPECT_EQ(FindProcessByName(L"SERVICES.EXE", VER_PLATFORM_WIN32_NT), kProcessFound);
}

// The 64-bit plug-in finds 32-bit programs: the 32-bit build's DllHolder.exe,
// started under a name no other program has.
TEST(FindProcessByName, SeesA32BitProgram)
{
    if (sizeof(void*) == 4) GTEST_SKIP() << "this program is 32-bit itself";
    ScratchDirectory scratch(L"finder32");
    const std::wstring copy = scratch / L"ThirtyTwoBitHolder.exe";
    ASSERT_TRUE(CopyFileW(Beside32BitTests(L"DllHolder.exe").c_str(), copy.c_str(), FALSE));
    EXPECT_EQ(FindProcessByName(L"thirtytwobitholder.exe", VER_PLATFORM_WIN32_NT), kProcessNotFound);
    DllHolderProcess holder(scratch / L"holder.ready", {}, copy);
    ASSERT_TRUE(holder.WaitUntilReady());
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, holder.Id()));
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(process.get(), &wow64));
    ASSERT_TRUE(wow64) << "the holder should be a 32-bit program";
    EXPECT_EQ(FindProcessByName(L"thirtytwobitholder.exe", VER_PLATFORM_WIN32_NT), kProcessFound);
}

// Enumerators that stand in for EnumProcesses.
DWORD g_lastListedId = 0;
constexpr DWORD kListedProcesses = 2500;

BOOL WINAPI ListManyProcesses(DWORD* ids, DWORD bytes, DWORD* bytesReturned)
{
    // Identifiers that no process has, and this program's at the very end.
    const DWORD count = (bytes / sizeof(DWORD)) < kListedProcesses ? bytes / sizeof(DWORD) : kListedProcesses;
    for (DWORD i = 0; i < count; ++i) ids[i] = (i == kListedProcesses - 1) ? g_lastListedId : 0x7FF00000 + 4 * i;
    *bytesReturned = count * sizeof(DWORD);
    return TRUE;
}

BOOL WINAPI FailToListProcesses(DWORD*, DWORD, DWORD*)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

TEST(FindProcessByName, ExaminesEveryListedProcessAndPassesOverUnreadableOnes)
{
    BoundPsapi psapi;
    ASSERT_TRUE(BindPsapi(psapi));
    PsapiFunctions functions = psapi.functions;
    functions.enumProcesses = ListManyProcesses;
    g_lastListedId = GetCurrentProcessId();
    EXPECT_EQ(FindExecutableByName(functions, UpperCaseName(OwnExecutableName().c_str())), kProcessFound);
    // None of the other listed processes can be opened; none of them is
    // reported under a stand-in name.
    EXPECT_EQ(FindExecutableByName(functions, L"UNKNOWN"), kProcessNotFound);

    functions.enumProcesses = FailToListProcesses;
    EXPECT_EQ(FindExecutableByName(functions, UpperCaseName(OwnExecutableName().c_str())), kSearchUnavailable);
}

// The 9x family's method compares every module's name as stored with the
// upper-cased argument: a module stored in capitals is found by any spelling,
// one stored in small letters is not. Other platform families give 607, and
// the name is judged first whatever the family.
TEST(FindProcessByName, ToolHelpMethodAndOtherPlatformFamilies)
{
    ScratchDirectory scratch(L"toolhelp");
    const std::wstring capitals = scratch / L"QTOOLHELP.DLL";
    ASSERT_TRUE(CopyFileW(BesideTests(L"HeldModule.dll").c_str(), capitals.c_str(), FALSE));
    {
        LoadedLibrary loaded(LoadLibraryW(capitals.c_str()));
        ASSERT_TRUE(loaded);
        EXPECT_EQ(FindProcessByName(L"qToolHelp.dll", VER_PLATFORM_WIN32_WINDOWS), kProcessFound);
        EXPECT_EQ(FindProcessByName(OwnExecutableName().c_str(), VER_PLATFORM_WIN32_WINDOWS), kProcessNotFound);
        EXPECT_EQ(FindProcessByName(L"", VER_PLATFORM_WIN32_WINDOWS), kNameRejected);
    }
    EXPECT_EQ(FindProcessByName(L"QTOOLHELP.DLL", VER_PLATFORM_WIN32_WINDOWS), kProcessNotFound);

    for (DWORD family : {DWORD{VER_PLATFORM_WIN32s}, DWORD{3}, DWORD{0xFFFF}}) {
        EXPECT_EQ(FindProcessByName(OwnExecutableName().c_str(), family), kPlatformUnknown) << family;
        EXPECT_EQ(FindProcessByName(std::wstring(261, L'a').c_str(), family), kNameRejected) << family;
    }
}

// Every handle and library taken for a search is given back, on the path that
// finds, the one that does not, and the one that fails.
TEST(FindProcessByName, LeavesNoHandleOrLibraryOpen)
{
    const bool psapiLoadedBefore = GetModuleHandleW(L"psapi.dll") != nullptr;
    FindProcessByName(L"warm-up.exe");
    DWORD before = 0, after = 0;
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &before));
    EXPECT_EQ(FindProcessByName(OwnExecutableName().c_str()), kProcessFound);
    EXPECT_EQ(FindProcessByName(L"no-such-program-here.exe"), kProcessNotFound);
    EXPECT_EQ(FindProcessByName(L"no-such-program-here.exe", VER_PLATFORM_WIN32_WINDOWS), kProcessNotFound);
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &after));
    EXPECT_EQ(after, before);
    if (!psapiLoadedBefore) {
        EXPECT_EQ(GetModuleHandleW(L"psapi.dll"), nullptr);
    }
}

// The process functions come from the kernel32 every process has loaded:
// nothing is loaded for a search where kernel32 has them.
TEST(BindPsapi, TakesTheFunctionsFromKernel32WhereItHasThem)
{
    const HMODULE kernel = GetModuleHandleW(L"kernel32");
    if (!GetProcAddress(kernel, "K32EnumProcesses")) GTEST_SKIP() << "this kernel32 lacks the K32 functions";
    BoundPsapi bound;
    ASSERT_TRUE(BindPsapi(bound));
    EXPECT_FALSE(bound.library);
    EXPECT_EQ(bound.functions.enumProcesses,
              FindExport<PsapiFunctions::EnumProcessesFunction>(kernel, "K32EnumProcesses"));
    EXPECT_EQ(bound.functions.getModuleFileNameEx,
              FindExport<PsapiFunctions::GetModuleNameFunction>(kernel, "K32GetModuleFileNameExW"));
}

TEST(UpperCaseName, FoldsEachUnitAndKeepsTheLength)
{
    EXPECT_EQ(UpperCaseName(L"setup.exe"), L"SETUP.EXE");
    EXPECT_EQ(UpperCaseName(L"\u00e4b-1.Exe"), L"\u00c4B-1.EXE");
    EXPECT_EQ(UpperCaseName(L""), L"");
}

}  // namespace
