// Where the time of one registry export goes, in one process: the export of
// the real Plugin.dll called through the in-process NSIS host, against the
// registry calls it stands for, and the steps each call takes besides them.
// NSIS loads and frees a plug-in around every call that does not register to
// stay loaded, so the load and free are timed as well (the plug-in now
// registers; the figure says what that saves).
#include <windows.h>

#include "BenchTiming.h"
#include "LoadedLibrary.h"
#include "NsisHost.h"
#include "Privileges.h"
#include "ProcessStatus.h"
#include "TestPaths.h"
#include "TraceListener.h"
#include "UniqueHandle.h"
#include "Wow64.h"

#include <vector>

namespace {
constexpr int kCalls = 1000;
constexpr int kRuns = 7;
const wchar_t kKey[] = L"Software\\QuillonBench";

// Microseconds per call of one block of kCalls calls of body.
template <typename Body>
double TimeBlock(Body& body)
{
    const double start = NowMs();
    for (int i = 0; i < kCalls; ++i) body();
    return (NowMs() - start) * 1000.0 / kCalls;
}

// Microseconds per call of body, median of kRuns blocks of kCalls calls.
template <typename Body>
double MicrosecondsPerCall(Body body)
{
    return MedianOf(kRuns, [&] { return TimeBlock(body); });
}

// Three bodies timed in turns, the one that goes first moving on each run, so
// that a change of the machine's load falls on all three alike: the median
// microseconds per call of each.
template <typename A, typename B, typename C>
void MicrosecondsPerCallInTurns(A a, B b, C c, double& aCost, double& bCost, double& cCost)
{
    std::vector<double> aRuns, bRuns, cRuns;
    for (int run = 0; run < 3 * kRuns; ++run) {
        for (int slot = 0; slot < 3; ++slot) {
            switch ((run + slot) % 3) {
            case 0: aRuns.push_back(TimeBlock(a)); break;
            case 1: bRuns.push_back(TimeBlock(b)); break;
            default: cRuns.push_back(TimeBlock(c)); break;
            }
        }
    }
    aCost = Median(aRuns);
    bCost = Median(bRuns);
    cCost = Median(cRuns);
}

void WriteDirectly()
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    const wchar_t text[] = L"some text";
    RegSetValueExW(key, L"Value", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof(text));
    RegCloseKey(key);
}
}  // namespace

int main()
{
    const std::wstring pluginPath = BesideTests(L"Plugin.dll");
    // Timed before this program holds the plug-in itself: a library already
    // loaded would only have its reference count changed.
    const double loadCost =
        MicrosecondsPerCall([&] { FreeLibrary(LoadLibraryExW(pluginPath.c_str(), nullptr, 0)); });
    const LoadedLibrary plugin(LoadLibraryW(pluginPath.c_str()));
    const auto writeRegStr = plugin.Find<NsisHost::Export>("WriteRegStr");
    const auto isSupport64 = plugin.Find<NsisHost::Export>("IsSupport64");
    if (!writeRegStr || !isSupport64) {
        std::printf("Plugin.dll not found beside the benchmark\n");
        return 1;
    }
    NsisHost host;

    auto writeOnce = [&] {
        for (const wchar_t* text : {L"end", L"some text", L"Value", kKey, L"HKLM", L"/x86"}) host.Push(text);
        host.CallWithExtra(writeRegStr);
    };
    double exportCost = 0, directCost = 0, listenerCost = 0;
    MicrosecondsPerCallInTurns(writeOnce, WriteDirectly, SomeoneReadsTraces, exportCost, directCost, listenerCost);
    PrintFigure("in-process WriteRegStr export vs RegCreateKeyEx+RegSetValueEx (us/call)", exportCost, directCost,
                "us");
    PrintNote("SomeoneReadsTraces with nobody listening: one event look-up, shared by the export calls of a tenth "
              "of a second (us/call)",
              listenerCost, "us");
    PrintNote("the export's own work besides the registry calls (us/call)", exportCost - directCost, "us");
    {
        // A debug-output viewer's event: the export now writes its 22 traces.
        const UniqueHandle viewer(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY"));
        PrintNote("in-process WriteRegStr export while a viewer's event exists (us/call)",
                  MicrosecondsPerCall(writeOnce), "us");
    }
    PrintNote("in-process IsSupport64 export (us/call)",
              MicrosecondsPerCall([&] { host.CallWithExtra(isSupport64); }), "us");
    PrintNote("RequestDebugPrivilege, the privilege step itself (us/call)",
              MicrosecondsPerCall(RequestDebugPrivilege), "us");
    PrintNote("EnableDebugPrivilege once it has succeeded, as every export now pays (us/call)",
              MicrosecondsPerCall(EnableDebugPrivilege), "us");
    PrintNote("OutputDebugStringW of one text, nobody listening (us/call)",
              MicrosecondsPerCall([] { OutputDebugStringW(L"IN 1"); }), "us");
    PrintNote("IsWow64 (us/call)", MicrosecondsPerCall([] { IsWow64(); }), "us");
    // Not a registry step: the fixed cost each FindProc and owner scan pays
    // before its first process, now four look-ups in the loaded kernel32.
    PrintNote("BindPsapi, at the start of FindProc and of each owner scan (us/call)",
              MicrosecondsPerCall([] {
                  BoundPsapi psapi;
                  BindPsapi(psapi);
              }), "us");
    PrintNote("LoadLibrary+FreeLibrary of Plugin.dll, as NSIS does around a call (us/call)", loadCost, "us");

    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_32KEY, 0);
    return 0;
}
