#pragma once
#include <windows.h>

#include <cstddef>
#include <string>

#include "CallFrame.h"

// Which registry export reads the arguments: it decides the slots, the
// switches accepted and the trace texts.
enum class RegistryExport {
    WriteValue,   // WriteRegStr, WriteRegDWORD, WriteRegBin
    DeleteKey,    // DeleteRegKey
    DeleteValue,  // DeleteRegValue
};

struct RegistryRequest {
    HKEY root = nullptr;
    std::wstring subKey;
    std::wstring valueName;  // DeleteRegValue and the writes
    std::wstring data;       // the writes, still as text
    bool want64 = false;
    bool want32 = false;
    bool ifEmpty = false;    // DeleteRegKey
};

enum class RegistryArguments {
    Complete,        // the end marker was read; the export does its work
    ParameterError,  // "IN para error " traced; the export answers "0"
    UnknownRoot,     // the first positional text names no root; nothing more happens
};

// Where the arguments come from and where their trace goes: the NSIS stack and
// the debugger channel in the plug-in, plain lists in tests.
class RegistryArgumentSource {
public:
    // Same contract as PopString: on Empty the buffer is left as it was.
    virtual PopResult Pop(wchar_t* buffer, std::size_t capacity) = 0;
    virtual void Trace(const wchar_t* text) = 0;
    // Asked each time "/x64" reaches a write export, never cached.
    virtual bool RunsOn64BitWindows() = 0;

protected:
    ~RegistryArgumentSource() = default;
};

// Reads switches and positional texts up to and including the end marker;
// nothing below the end marker is popped.
RegistryArguments ReadRegistryArguments(RegistryExport kind, RegistryArgumentSource& source,
                                        RegistryRequest& request);
