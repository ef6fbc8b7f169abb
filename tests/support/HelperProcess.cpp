#include "HelperProcess.h"

#include "TestPaths.h"

DllHolderProcess::DllHolderProcess(const std::wstring& readyFile, const std::vector<std::wstring>& dlls,
                                   const std::wstring& holder)
    : readyFile_(readyFile)
{
    DeleteFileW(readyFile_.c_str());
    DeleteFileW((readyFile_ + L".stop").c_str());
    const std::wstring program = holder.empty() ? BesideTests(L"DllHolder.exe") : holder;
    // The lifetime bounds the holder even when the test never gets to end it.
    std::wstring commandLine = L"\"" + program + L"\" \"" + readyFile_ + L"\" 180000";
    for (const std::wstring& dll : dlls) commandLine += L" \"" + dll + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        UniqueHandle thread(info.hThread);
        process_.reset(info.hProcess);
        processId_ = info.dwProcessId;
    }
}

bool DllHolderProcess::WaitUntilReady(DWORD timeoutMs)
{
    if (!process_) return false;
    const DWORD start = GetTickCount();
    do {
        if (GetFileAttributesW(readyFile_.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
        if (WaitForSingleObject(process_.get(), 100) == WAIT_OBJECT_0) return false;
    } while (GetTickCount() - start < timeoutMs);
    return false;
}

void DllHolderProcess::End()
{
    if (!process_) return;
    TerminateProcess(process_.get(), 0);
    WaitForSingleObject(process_.get(), 30000);
    process_.reset();
    DeleteFileW(readyFile_.c_str());
}

