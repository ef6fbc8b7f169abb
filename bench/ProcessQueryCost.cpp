// process_query_cost <extra-processes>
// FindProc and one scan of GetDllOwnerProcName (for a DLL nobody holds, so
// no prompt) of the real Plugin.dll, with the given number of extra
// DllHolder.exe processes running, against a loop that makes only the same
// platform calls over the same processes: EnumProcesses, then per process
// OpenProcess and QueryFullProcessImageNameW (FindProc's road on Vista and
// later), or OpenProcess, EnumProcessModules and GetModuleBaseNameW for every
// module (the owner scan's road).
#include <windows.h>
#include <psapi.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "BenchTiming.h"
#include "LoadedLibrary.h"
#include "NsisHost.h"
#include "ScratchDirectory.h"
#include "TestPaths.h"
#include "UniqueHandle.h"

namespace {
constexpr int kRuns = 7;
constexpr DWORD kHolderLifetimeMs = 15 * 60 * 1000;
constexpr DWORD kProcessAllAccessBeforeVista = 0x001F0FFF;

// The extra processes: DllHolder.exe copies that load nothing and wait.
class Holders {
public:
    Holders(const ScratchDirectory& scratch, int count)
    {
        const std::wstring program = BesideTests(L"DllHolder.exe");
        for (int i = 0; i < count; ++i) {
            const std::wstring ready = scratch / (L"ready" + std::to_wstring(i));
            std::wstring commandLine =
                L"\"" + program + L"\" \"" + ready + L"\" " + std::to_wstring(kHolderLifetimeMs);
            STARTUPINFOW startup = {};
            startup.cb = sizeof(startup);
            PROCESS_INFORMATION started = {};
            if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                &startup, &started))
                continue;
            CloseHandle(started.hThread);
            processes_.emplace_back(started.hProcess);
            readyFiles_.push_back(ready);
        }
    }
    ~Holders()
    {
        for (const std::wstring& ready : readyFiles_) {
            UniqueHandle stop(CreateFileW((ready + L".stop").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                          nullptr));
        }
        for (UniqueHandle& process : processes_)
            if (WaitForSingleObject(process.get(), 10000) != WAIT_OBJECT_0) TerminateProcess(process.get(), 1);
    }
    bool WaitUntilReady(DWORD timeoutMs)
    {
        const DWORD start = GetTickCount();
        for (const std::wstring& ready : readyFiles_) {
            while (GetFileAttributesW(ready.c_str()) == INVALID_FILE_ATTRIBUTES) {
                if (GetTickCount() - start > timeoutMs) return false;
                Sleep(50);
            }
        }
        return true;
    }
    std::size_t Count() const { return processes_.size(); }

private:
    std::vector<UniqueHandle> processes_;
    std::vector<std::wstring> readyFiles_;
};

std::vector<DWORD> ProcessIds()
{
    std::vector<DWORD> ids(4096);
    DWORD bytes = 0;
    if (!EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &bytes)) return {};
    ids.resize(bytes / sizeof(DWORD));
    return ids;
}

// FindProc's platform calls for every process, and the same comparison.
// unreadable: how many processes gave no image path (FindProc then tries
// their first module as well, which this loop does not).
bool BaselineFindByImagePath(const wchar_t* upperName, std::size_t* unreadable = nullptr)
{
    bool found = false;
    for (DWORD id : ProcessIds()) {
        UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
        wchar_t path[1024];
        DWORD size = 1024;
        if (!process || !QueryFullProcessImageNameW(process.get(), 0, path, &size)) {
            if (unreadable) ++*unreadable;
            continue;
        }
        const wchar_t* base = path;
        for (const wchar_t* p = path; *p; ++p)
            if (*p == L'\\') base = p + 1;
        CharUpperW(const_cast<wchar_t*>(base));
        found = found || lstrcmpW(base, upperName) == 0;
    }
    return found;
}

// The owner scan's platform calls: every module's base name of every process.
std::size_t BaselineModuleScan()
{
    std::size_t modulesSeen = 0;
    for (DWORD id : ProcessIds()) {
        UniqueHandle process(OpenProcess(kProcessAllAccessBeforeVista, FALSE, id));
        if (!process) continue;
        HMODULE modules[512];
        DWORD needed = 0;
        if (!EnumProcessModules(process.get(), modules, sizeof(modules), &needed)) continue;
        const DWORD count = std::min<DWORD>(needed / sizeof(HMODULE), 512);
        for (DWORD i = 0; i < count; ++i) {
            wchar_t name[260];
            if (GetModuleBaseNameW(process.get(), modules[i], name, 260) != 0) ++modulesSeen;
        }
    }
    return modulesSeen;
}

struct ScanMedians {
    double ours;
    double baseline;
    double pairedRatio;  // the median of each run's ours / baseline
};

// Milliseconds of one scan, ours and the baseline alternating run by run, so
// that a change in the machine's load (300 helper processes and other jobs
// share two CPUs) falls on both sides alike instead of on one block of runs;
// which side goes first swaps each run, since the first scan after a pause
// may find colder caches.
template <typename Ours, typename Baseline>
ScanMedians MillisecondsPerScan(Ours ours, Baseline baseline)
{
    auto time = [](auto& body) {
        const double start = NowMs();
        body();
        return NowMs() - start;
    };
    std::vector<double> oursRuns, baselineRuns, ratios;
    for (int i = 0; i < kRuns; ++i) {
        if (i % 2 == 0) {
            oursRuns.push_back(time(ours));
            baselineRuns.push_back(time(baseline));
        } else {
            baselineRuns.push_back(time(baseline));
            oursRuns.push_back(time(ours));
        }
        ratios.push_back(oursRuns.back() / baselineRuns.back());
    }
    return {Median(oursRuns), Median(baselineRuns), Median(ratios)};
}
}  // namespace

int main(int argc, char** argv)
{
    const int extra = argc > 1 ? std::atoi(argv[1]) : 20;
    const LoadedLibrary plugin(LoadLibraryW(BesideTests(L"Plugin.dll").c_str()));
    const auto findProc = plugin.Find<NsisHost::Export>("FindProc");
    const auto ownerScan = plugin.Find<NsisHost::Export>("GetDllOwnerProcName");
    if (!findProc || !ownerScan) {
        std::printf("Plugin.dll not found beside the benchmark\n");
        return 1;
    }

    ScratchDirectory scratch(L"bench-holders-");
    Holders holders(scratch, extra);
    if (static_cast<int>(holders.Count()) != extra || !holders.WaitUntilReady(300000)) {
        std::printf("could not start %d DllHolder.exe processes\n", extra);
        return 1;
    }
    const std::size_t processes = ProcessIds().size();
    const std::size_t modules = BaselineModuleScan();
    std::size_t unreadable = 0;
    BaselineFindByImagePath(L"ABSENT-PROCESS.EXE", &unreadable);
    NsisHost host;

    const ScanMedians find = MillisecondsPerScan(
        [&] {
            host.Push(L"absent-process.exe");
            host.CallWithExtra(findProc);
        },
        [] { BaselineFindByImagePath(L"ABSENT-PROCESS.EXE"); });
    const ScanMedians scan = MillisecondsPerScan(
        [&] {
            host.Push(L"absent-module.dll");
            host.CallWithExtra(ownerScan);
        },
        [] { BaselineModuleScan(); });
    const double findOurs = find.ours, findBaseline = find.baseline;
    const double scanOurs = scan.ours, scanBaseline = scan.baseline;

    const std::string suffix = ", " + std::to_string(extra) + " extra processes (ms/scan)";
    PrintFigure(("FindProc" + suffix).c_str(), findOurs, findBaseline, "ms", find.pairedRatio);
    PrintFigure(("GetDllOwnerProcName scan" + suffix).c_str(), scanOurs, scanBaseline, "ms", scan.pairedRatio);
    PrintNote(("processes listed with " + std::to_string(extra) + " extra").c_str(), static_cast<double>(processes),
              "");
    PrintNote(("modules listed with " + std::to_string(extra) + " extra").c_str(), static_cast<double>(modules), "");
    PrintNote(("FindProc per process, " + std::to_string(extra) + " extra (us)").c_str(),
              findOurs * 1000.0 / processes, "us");
    PrintNote(("processes without a readable image path, " + std::to_string(extra) + " extra").c_str(),
              static_cast<double>(unreadable), "");
    PrintNote(("FindProc baseline per process, " + std::to_string(extra) + " extra (us)").c_str(),
              findBaseline * 1000.0 / processes, "us");
    PrintNote(("owner scan per process, " + std::to_string(extra) + " extra (us)").c_str(),
              scanOurs * 1000.0 / processes, "us");
    PrintNote(("owner scan baseline per process, " + std::to_string(extra) + " extra (us)").c_str(),
              scanBaseline * 1000.0 / processes, "us");
    PrintNote(("owner scan per module, " + std::to_string(extra) + " extra (us)").c_str(),
              scanOurs * 1000.0 / (modules ? modules : 1), "us");
    return 0;
}
