// Many calls of each export of the real Plugin.dll in one process, through the
// in-process NSIS host: after a warm-up, the process's handle count and
// private memory must stay where they were, and no stack node may be left
// allocated. An export that keeps one handle or one allocation per call
// shows up here long before an installer runs out of either.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <functional>
#include <string>
#include <vector>

#include "LoadedLibrary.h"
#include "NsisHost.h"
#include "ScratchDirectory.h"
#include "TestPaths.h"

namespace {
// Growth tolerated after the warm-up: a handle or two and some heap that
// the system's own caches may still take, but far less than one per call.
constexpr DWORD kHandleSlack = 4;
constexpr SIZE_T kMemorySlackBytes = 512 * 1024;
constexpr int kWarmUpCalls = 50;
const wchar_t kKey[] = L"Software\\QuillonTests\\Endurance";

struct Usage {
    DWORD handles = 0;
    SIZE_T privateBytes = 0;
};

Usage MeasureUsage()
{
    Usage usage;
    GetProcessHandleCount(GetCurrentProcess(), &usage.handles);
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters));
    usage.privateBytes = counters.PrivateUsage;
    return usage;
}

// One export and what one call pushes. Calls: how many calls after the
// warm-up. The process queries scan every process (and every module) of the
// system on each call, which under Wine costs milliseconds (the owner scan
// up to 0.4 s in a 32-bit prefix, where every process's modules can be
// listed), so they get fewer calls; a handle kept per call still shows at once.
struct EnduranceCase {
    const char* exportName;
    int calls;
    std::function<std::vector<std::wstring>(int round, const ScratchDirectory& scratch)> arguments;  // top last
    // Puts in place, before a round, what the round's call should find; the
    // registry calls here balance their own handles.
    std::function<void(int round)> prepare = [](int) {};
};

// Even rounds find something to delete, odd rounds find nothing.
void PrepareValue(int round)
{
    const wchar_t text[] = L"x";
    if (round % 2 == 0) RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"Str", REG_SZ, text, sizeof(text));
}

void PrepareKey(int round)
{
    if (round % 2 != 0) return;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(kKey) + L"\\Child").c_str(), 0, nullptr, 0, KEY_WRITE,
                        nullptr, &key, nullptr) == ERROR_SUCCESS)
        RegCloseKey(key);
}

std::wstring ThisProgram()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring program(path, length);
    return program.substr(program.find_last_of(L"\\/") + 1);
}

const EnduranceCase kCases[] = {
    {"GetSysVersion", 10000, [](int, const ScratchDirectory&) { return std::vector<std::wstring>{}; }},
    {"IsSupport64", 10000, [](int, const ScratchDirectory&) { return std::vector<std::wstring>{}; }},
    {"WriteRegStr", 10000, [](int round, const ScratchDirectory&) {
         return std::vector<std::wstring>{L"end", L"text " + std::to_wstring(round), L"Str", kKey, L"HKCU", L"/x86"};
     }},
    {"WriteRegDWORD", 10000, [](int round, const ScratchDirectory&) {
         return std::vector<std::wstring>{L"end", std::to_wstring(round), L"Dword", kKey, L"HKCU", L"/x86"};
     }},
    {"WriteRegBin", 10000, [](int, const ScratchDirectory&) {
         return std::vector<std::wstring>{L"end", L"0A1BFF", L"Bin", kKey, L"HKCU", L"/x86"};
     }},
    {"DeleteRegValue", 10000, [](int, const ScratchDirectory&) {
         return std::vector<std::wstring>{L"end", L"Str", kKey, L"HKCU", L"/x86", L"/x64"};
     }, PrepareValue},
    {"DeleteRegKey", 10000, [](int, const ScratchDirectory&) {
         return std::vector<std::wstring>{L"end", std::wstring(kKey) + L"\\Child", L"HKCU", L"/ifempty", L"/x86", L"/x64"};
     }, PrepareKey},
    {"RWCreate", 10000, [](int round, const ScratchDirectory& scratch) {
         // A file replaced over and over, and directories that exist after the first round.
         return round % 2 ? std::vector<std::wstring>{scratch / L"file", L"FILE"}
                          : std::vector<std::wstring>{scratch / L"dir", L"DIR"};
     }},
    // A name that runs (this program) and one that does not.
    {"FindProc", 1000, [](int round, const ScratchDirectory&) {
         return std::vector<std::wstring>{round % 2 ? ThisProgram() : L"no-such-program.exe"};
     }},
    // A DLL that no process has loaded: one scan, no prompt.
    {"GetDllOwnerProcName", 50, [](int, const ScratchDirectory&) {
         return std::vector<std::wstring>{L"no-such-module.dll"};
     }},
};

class ExportEndurance : public testing::TestWithParam<EnduranceCase> {
protected:
    void TearDown() override
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
        RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
    }
};

TEST_P(ExportEndurance, KeepsNoHandleMemoryOrStackNodeAcrossCalls)
{
    const EnduranceCase& c = GetParam();
    const LoadedLibrary plugin(LoadLibraryW(BesideTests(L"Plugin.dll").c_str()));
    ASSERT_TRUE(plugin);
    const auto function = plugin.Find<NsisHost::Export>(c.exportName);
    ASSERT_NE(function, nullptr);
    ScratchDirectory scratch(L"endurance-");
    NsisHost host;

    auto call = [&](int round) {
        c.prepare(round);
        for (const std::wstring& text : c.arguments(round, scratch)) host.Push(text);
        // As Unicode NSIS calls: the plug-in registers to stay loaded, and
        // whatever it keeps between calls shows here.
        host.CallWithExtra(function);
    };
    for (int round = 0; round < kWarmUpCalls; ++round) call(round);
    const Usage before = MeasureUsage();
    for (int round = 0; round < c.calls; ++round) call(round);
    const Usage after = MeasureUsage();

    EXPECT_LE(after.handles, before.handles + kHandleSlack)
        << c.calls << " calls: handles " << before.handles << " -> " << after.handles;
    EXPECT_LE(after.privateBytes, before.privateBytes + kMemorySlackBytes)
        << c.calls << " calls: private bytes " << before.privateBytes << " -> " << after.privateBytes;
    EXPECT_TRUE(host.Leaked().empty());
    EXPECT_TRUE(host.Stack().empty()) << "every export pops exactly its own arguments";
    EXPECT_EQ(host.RegistrationRequests(), 1);
    host.Notify(NsisHost::kUnload);
}

INSTANTIATE_TEST_SUITE_P(Exports, ExportEndurance, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<EnduranceCase>& info) {
                             return std::string(info.param.exportName);
                         });
}  // namespace
