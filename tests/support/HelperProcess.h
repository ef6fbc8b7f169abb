#pragma once
#include <windows.h>

#include "ScratchDirectory.h"
#include "UniqueHandle.h"

#include <string>
#include <vector>

// A DllHolder.exe started by a test: it loads the given DLLs and keeps them
// loaded until End() or the end of this object. Every wait is bounded.
class DllHolderProcess {
public:
    // readyFile: where the holder signals that all DLLs are loaded. holder:
    // the program to start, the DllHolder.exe beside the tests unless given
    // (a copy under another name, or the one of the other kind).
    DllHolderProcess(const std::wstring& readyFile, const std::vector<std::wstring>& dlls,
                     const std::wstring& holder = std::wstring());
    ~DllHolderProcess() { End(); }
    DllHolderProcess(const DllHolderProcess&) = delete;
    DllHolderProcess& operator=(const DllHolderProcess&) = delete;

    // True once every DLL is loaded; false when the holder failed or took too long.
    bool WaitUntilReady(DWORD timeoutMs = 60000);
    DWORD Id() const { return processId_; }
    // Ends the holder and waits until it is gone.
    void End();

private:
    std::wstring readyFile_;
    UniqueHandle process_;
    DWORD processId_ = 0;
};

