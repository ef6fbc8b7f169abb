#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "CallFrame.h"
#include "EqualsNoCase.h"
#include "LoadedLibrary.h"
#include "NsisHost.h"
#include "Privileges.h"
#include "RegistryKey.h"
#include "TraceCapture.h"
#include "TestPaths.h"
#include "UniqueHandle.h"
#include "Wow64.h"

namespace {
// The test host lays its nodes out as NSIS does, pointer-sized link first,
// in the 32-bit and the 64-bit build alike; the plug-in reads them so.
static_assert(offsetof(NsisHost::Node, text) == sizeof(void*) &&
                  offsetof(NsisHost::Node, text) == offsetof(NsisStackNode, text),
              "the host's stack node and the plug-in's");

// Records the host's frame as an export would at its start.
void Enter(NsisHost& host)
{
    RecordCallContext(nullptr, host.StringSize(), host.Variables(),
                      reinterpret_cast<NsisStackNode**>(host.StackTop()));
}

TEST(PopString, TakesTheTopNodeFreesItAndTracesTheText)
{
    NsisHost host;
    host.Push(L"below");
    host.Push(L"HKLM");
    Enter(host);
    TraceCapture trace;
    wchar_t buffer[kArgumentCapacity];

    EXPECT_EQ(PopString(buffer, kArgumentCapacity), PopResult::Popped);
    EXPECT_STREQ(buffer, L"HKLM");
    EXPECT_EQ(host.Stack(), std::vector<std::wstring>{L"below"});
    EXPECT_TRUE(host.Leaked().empty());

    EXPECT_EQ(PopString(buffer, kArgumentCapacity), PopResult::Popped);
    EXPECT_STREQ(buffer, L"below");
    EXPECT_TRUE(host.Stack().empty());
    EXPECT_TRUE(host.Leaked().empty());
    EXPECT_EQ(trace.Texts(), (std::vector<std::wstring>{L"HKLM", L"below"}));
}

// The leak check below must be able to fail: a node taken off the stack
// without GlobalFree is reported.
TEST(NsisHost, ReportsANodeNobodyFreed)
{
    NsisHost host;
    host.Push(L"kept");
    NsisHost::Node* node = *host.StackTop();
    *host.StackTop() = node->next;
    EXPECT_EQ(host.Leaked(), std::vector<NsisHost::Node*>{node});
    GlobalFree(node);
    EXPECT_TRUE(host.Leaked().empty());
}

TEST(PopString, EmptyStackOrNoStackLeavesTheBufferAsItWas)
{
    NsisHost host;
    Enter(host);
    TraceCapture trace;
    wchar_t buffer[kArgumentCapacity] = L"previous";
    EXPECT_EQ(PopString(buffer, kArgumentCapacity), PopResult::Empty);
    EXPECT_STREQ(buffer, L"previous");

    RecordCallContext(nullptr, host.StringSize(), host.Variables(), nullptr);
    EXPECT_EQ(PopString(buffer, kArgumentCapacity), PopResult::Empty);
    EXPECT_STREQ(buffer, L"previous");
    EXPECT_TRUE(trace.Texts().empty());
}

// Texts at the buffer's edge: capacity-1 units fit, anything longer is popped
// but reported, and nothing is written past the buffer.
TEST(PopString, TextsAtAndBeyondTheBufferEdge)
{
    struct Case { int stringSize; std::size_t length; PopResult expected; };
    const Case cases[] = {
        {1024, kArgumentCapacity - 1, PopResult::Popped},
        {8192, kArgumentCapacity - 1, PopResult::Popped},
        {8192, kArgumentCapacity, PopResult::TooLong},
        {8192, 8191, PopResult::TooLong},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "string_size " << c.stringSize << ", length " << c.length);
        NsisHost host(c.stringSize);
        host.Push(L"next");
        host.Push(std::wstring(c.length, L'x'));
        Enter(host);
        wchar_t buffer[kArgumentCapacity + 1];
        buffer[kArgumentCapacity] = L'#';  // guard unit just past the buffer

        EXPECT_EQ(PopString(buffer, kArgumentCapacity), c.expected);
        EXPECT_EQ(buffer[kArgumentCapacity], L'#');
        EXPECT_EQ(std::wstring(buffer).size(), std::min(c.length, kArgumentCapacity - 1));
        EXPECT_EQ(host.Stack(), std::vector<std::wstring>{L"next"});
        EXPECT_TRUE(host.Leaked().empty());
    }
}

TEST(SetResult, WritesOnlyR0AtItsSlot)
{
    for (int stringSize : {1024, 8192}) {
        NsisHost host(stringSize);
        for (int slot = 0; slot < 20; ++slot) host.SetVariable(slot, L"keep");
        Enter(host);
        SetResult(L"1");
        EXPECT_STREQ(host.Variables() + 10 * stringSize, L"1");
        for (int slot = 0; slot < 20; ++slot) {
            if (slot == 10) continue;
            EXPECT_EQ(host.Variable(slot), L"keep") << "slot " << slot;
        }
    }
}

TEST(SetResult, CutsATextLongerThanTheSlot)
{
    NsisHost host(16);
    host.SetVariable(11, L"R1");
    Enter(host);
    SetResult(std::wstring(40, L'z').c_str());
    EXPECT_EQ(host.R0(), std::wstring(15, L'z'));
    EXPECT_EQ(host.Variable(11), L"R1");
}

TEST(DebugLog, PassesTheTextUnchanged)
{
    TraceCapture trace;
    DebugLog(L"IN para error ");
    DebugLog(L"");
    EXPECT_EQ(trace.Texts(), (std::vector<std::wstring>{L"IN para error ", L""}));
}

// A viewer listens through the DBWIN protocol in the session's namespace,
// where OutputDebugString looks for it; without one (and without a debugger)
// the export does its work and writes no trace at all. A viewer that listens
// under "Global\" only never receives a text from this session, so it is
// not waited for either.
TEST(DebugLog, AnExportTracesOnlyWhileSomeoneCanRead)
{
    const wchar_t key[] = L"Software\\QuillonTests\\Traces";
    const LoadedLibrary plugin(LoadLibraryW(BesideTests(L"Plugin.dll").c_str()));
    const auto writeRegStr = plugin.Find<NsisHost::Export>("WriteRegStr");
    ASSERT_NE(writeRegStr, nullptr);
    const std::vector<std::wstring> fullTrace = {
        L"/x86", L"/x86", L"IN /x86", L"HKCU", L"HKCU", L"IN 1", key, key, L"IN 1", L"/SUB ", L"V", L"V", L"IN 1",
        L"/Key ", L"x", L"x", L"IN 1", L"/Key ", L"end", L"end", L"IN 1", key};
    struct Case { const char* what; TraceCapture::Listener listener; bool traced; };
    const Case cases[] = {
        {"no listener", TraceCapture::Listener::None, false},
        {"a viewer in the session", TraceCapture::Listener::Local, true},
        {"a viewer under Global\\ only", TraceCapture::Listener::Global, false},
    };
    for (const Case& c : cases) {
        RegDeleteKeyExW(HKEY_CURRENT_USER, key, KEY_WOW64_32KEY, 0);
        NsisHost host;
        for (const wchar_t* text : {L"end", L"x", L"V", key, L"HKCU", L"/x86"}) host.Push(text);
        TraceCapture trace(c.listener);
        Sleep(kTraceDecisionLifetimeMs + 20);  // the previous case's answer has expired
        host.Call(writeRegStr);
        EXPECT_EQ(trace.Texts(), c.traced ? fullTrace : std::vector<std::wstring>{}) << c.what;
        RegistryKey written;
        EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ | KEY_WOW64_32KEY, written.put()), ERROR_SUCCESS)
            << c.what << ": the work is done either way";
    }
    RegDeleteKeyExW(HKEY_CURRENT_USER, key, KEY_WOW64_32KEY, 0);
}

// A call's traces are written all or none: a viewer that starts listening in
// the middle of a call is not heard by it. It hears the calls that begin once
// the answer has expired, and a call that decides again (GetDllOwnerProcName
// after Retry) at once.
TEST(DebugLog, DecidesOncePerExportCallAndAgainOnceTheAnswerHasExpired)
{
    TraceCapture trace(TraceCapture::Listener::None);
    NsisHost host;
    auto* stackTop = reinterpret_cast<NsisStackNode**>(host.StackTop());
    auto call = [&] { return std::make_unique<ExportCall>(nullptr, host.StringSize(), host.Variables(), stackTop,
                                                          nullptr); };
    {
        const auto first = call();
        DecideTracesAgain();  // not an answer an earlier test left
        DebugLog(L"unheard");
        const UniqueHandle viewer(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY"));
        DebugLog(L"still unheard");
        DecideTracesAgain();
        DebugLog(L"heard after deciding again");
    }
    {
        // With the viewer gone, the answer for the calls that follow is "no".
        const auto next = call();
        DecideTracesAgain();
        DebugLog(L"unheard again");
    }
    const UniqueHandle viewer(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY"));
    Sleep(kTraceDecisionLifetimeMs + 20);
    {
        const auto later = call();
        DebugLog(L"heard");
    }
    EXPECT_EQ(trace.Texts(), (std::vector<std::wstring>{L"heard after deciding again", L"heard"}));
}

TEST(EqualsNoCase, FoldsOnlyAsciiLetters)
{
    struct Case { const wchar_t* a; const wchar_t* b; bool equal; };
    const Case cases[] = {
        {L"/X64", L"/x64", true},
        {L"hklm", L"HKLM", true},
        {L"HkCu", L"HKCU", true},
        {L"HKLM ", L"HKLM", false},
        {L"HKLM", L"HKLM ", false},
        {L"\u00e4", L"\u00c4", false},
        {L"@", L"`", false},  // 0x40 and 0x60 sit beside the letter ranges
        {L"[", L"{", false},
        {L"", L"", true},
        {L"", L"a", false},
    };
    for (const Case& c : cases) EXPECT_EQ(EqualsNoCase(c.a, c.b), c.equal) << "'" << c.a << "' vs '" << c.b << "'";
}

TEST(SetTokenPrivilege, UnknownPrivilegeIsRefused)
{
    UniqueHandle token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put()));
    EXPECT_FALSE(SetTokenPrivilege(token.get(), L"SeNoSuchPrivilege", true));
}

TEST(SetTokenPrivilege, TurnsAPrivilegeOnAndOff)
{
    UniqueHandle token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put()));
    auto enabled = [&] {
        PRIVILEGE_SET set = {1, PRIVILEGE_SET_ALL_NECESSARY, {}};
        LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &set.Privilege[0].Luid);
        BOOL result = FALSE;
        PrivilegeCheck(token.get(), &set, &result);
        return result != FALSE;
    };
    ASSERT_TRUE(SetTokenPrivilege(token.get(), L"SeShutdownPrivilege", true));
    EXPECT_TRUE(enabled());
    ASSERT_TRUE(SetTokenPrivilege(token.get(), L"SeShutdownPrivilege", false));
    EXPECT_FALSE(enabled());
}

// What runs the privilege step: it is skipped only once it has succeeded, and
// a failure is tried again on the next call.
TEST(UntilSucceeded, RunsUntilTheAttemptHasOnceSucceeded)
{
    const bool answers[] = {false, true, false};
    int attempts = 0;
    UntilSucceeded privilege;
    for (int call = 0; call < 4; ++call) privilege.Run([&] { return answers[std::min(attempts++, 2)]; });
    EXPECT_EQ(attempts, 2);
    EXPECT_TRUE(privilege.Succeeded());
}

// PrivilegeProbe.exe's exit code under a token (null: this process's own): 1
// when the step counts as done, plus 2 when the privilege is enabled.
DWORD RunPrivilegeProbe(HANDLE token)
{
    std::wstring commandLine = L"\"" + BesideTests(L"PrivilegeProbe.exe") + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    const BOOL created = token ? CreateProcessAsUserW(token, nullptr, &commandLine[0], nullptr, nullptr, FALSE,
                                                      CREATE_NO_WINDOW, nullptr, nullptr, &startup, &started)
                               : CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                                                nullptr, nullptr, &startup, &started);
    if (!created) return 0xFFFFFFFF;
    const UniqueHandle process(started.hProcess), thread(started.hThread);
    DWORD exitCode = 0xFFFFFFFF;
    if (WaitForSingleObject(process.get(), 60000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.get(), &exitCode);
    } else {
        TerminateProcess(process.get(), exitCode);  // a probe that hangs is not left behind
        WaitForSingleObject(process.get(), 10000);
    }
    return exitCode;
}

// The step the exports run (EnableDebugPrivilege, as wired), in a process of
// its own each time: it counts as done exactly when the token then has the
// privilege enabled. A step that reported success without it would never be
// tried again, and would fail the second case.
TEST(EnableDebugPrivilege, CountsAsDoneOnlyWhenTheTokenHasThePrivilegeEnabled)
{
    constexpr DWORD kDone = 1, kEnabled = 2;
    EXPECT_EQ(RunPrivilegeProbe(nullptr), kDone | kEnabled) << "a token that holds the privilege";

    UniqueHandle own;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, own.put()));
    LUID_AND_ATTRIBUTES without = {};
    ASSERT_TRUE(LookupPrivilegeValueW(nullptr, L"SeDebugPrivilege", &without.Luid));
    UniqueHandle restricted;
    ASSERT_TRUE(CreateRestrictedToken(own.get(), 0, 0, nullptr, 1, &without, 0, nullptr, restricted.put()));
    EXPECT_EQ(RunPrivilegeProbe(restricted.get()), 0u) << "a token without the privilege";
}

// The test scripts say which kind of prefix they made; the answers must
// agree. A 64-bit process is never under WOW64, and runs only on 64-bit
// Windows.
TEST(IsWow64, MatchesThePrefixKind)
{
    const std::wstring arch = Environment(L"QUILLON_TEST_WINEARCH");
    if (arch.empty()) GTEST_SKIP() << "QUILLON_TEST_WINEARCH not set";
    // The platform's query, which IsWow64 looks up at run time, is there.
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_EQ(IsWow64(), arch == L"win64" && sizeof(void*) == 4);
    EXPECT_EQ(Is64BitWindows(), arch == L"win64");
}
}  // namespace
