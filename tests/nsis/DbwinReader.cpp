// dbwin_reader <out-file> <program> [arguments...]
// A debug-output viewer as such viewers work: it offers the shared buffer
// DBWIN_BUFFER under the mutex DBWinMutex, signals DBWIN_BUFFER_READY, and
// takes each text when DBWIN_DATA_READY is signalled. It starts the program,
// listens until the program has ended, and writes every text it received to
// out-file, one line each: "<pid>\t<the text's bytes in hexadecimal>". The
// first line is "child\t<pid>\t<exit code>". Its own exit code is 0 when it
// could listen and start the program, else 1.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "UniqueHandle.h"

namespace {
constexpr DWORD kBufferBytes = 4096;  // a DWORD process id, then the text

struct Received {
    DWORD processId;
    std::string text;
};

std::wstring QuotedCommandLine(int argc, wchar_t** argv, int first)
{
    std::wstring line;
    for (int i = first; i < argc; ++i) {
        if (!line.empty()) line += L' ';
        line += L'"';
        line += argv[i];
        line += L'"';
    }
    return line;
}

// One record from the buffer; the writer may leave the text unterminated at
// the buffer's end.
Received ReadRecord(const BYTE* view)
{
    Received record;
    CopyMemory(&record.processId, view, sizeof(DWORD));
    const char* text = reinterpret_cast<const char*>(view + sizeof(DWORD));
    std::size_t length = 0;
    while (length < kBufferBytes - sizeof(DWORD) && text[length]) ++length;
    record.text.assign(text, length);
    return record;
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: dbwin_reader <out-file> <program> [arguments...]\n");
        return 1;
    }
    UniqueHandle mutex(CreateMutexW(nullptr, FALSE, L"DBWinMutex"));
    UniqueHandle section(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBufferBytes,
                                            L"DBWIN_BUFFER"));
    if (!section || GetLastError() == ERROR_ALREADY_EXISTS) {
        std::fprintf(stderr, "another debug-output viewer is listening\n");
        return 1;
    }
    UniqueHandle bufferReady(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY"));
    UniqueHandle dataReady(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY"));
    const BYTE* view = static_cast<const BYTE*>(MapViewOfFile(section.get(), FILE_MAP_READ, 0, 0, 0));
    if (!mutex || !bufferReady || !dataReady || !view) {
        std::fprintf(stderr, "cannot set up the shared buffer\n");
        return 1;
    }

    std::wstring commandLine = QuotedCommandLine(argc, argv, 2);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    SetEvent(bufferReady.get());
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started)) {
        std::fprintf(stderr, "cannot start the program (%lu)\n", GetLastError());
        return 1;
    }
    UniqueHandle process(started.hProcess);
    UniqueHandle thread(started.hThread);

    std::vector<Received> received;
    const HANDLE waits[] = {dataReady.get(), process.get()};
    for (;;) {
        const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (woken == WAIT_OBJECT_0) {
            received.push_back(ReadRecord(view));
            SetEvent(bufferReady.get());
        } else {
            break;  // the program has ended: no text of its own can follow
        }
    }
    // A text handed over just before the end may still be waiting.
    while (WaitForSingleObject(dataReady.get(), 0) == WAIT_OBJECT_0) {
        received.push_back(ReadRecord(view));
        SetEvent(bufferReady.get());
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process.get(), &exitCode);
    UnmapViewOfFile(view);

    FILE* out = _wfopen(argv[1], L"wb");
    if (!out) return 1;
    std::fprintf(out, "child\t%lu\t%lu\n", started.dwProcessId, exitCode);
    for (const Received& record : received) {
        std::fprintf(out, "%lu\t", record.processId);
        for (unsigned char byte : record.text) std::fprintf(out, "%02x", byte);
        std::fprintf(out, "\n");
    }
    std::fclose(out);
    return 0;
}
