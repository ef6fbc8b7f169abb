// dbwin_reader <out-file> <program> [arguments...]
// dbwin_reader --listen <out-file>
// A debug-output viewer as such viewers work: it offers the shared buffer
// DBWIN_BUFFER under the mutex DBWinMutex, signals DBWIN_BUFFER_READY, and
// takes each text when DBWIN_DATA_READY is signalled. It starts the program,
// listens until the program has ended, and writes every text it received to
// out-file, one line each: "<pid>\t<the text's bytes in hexadecimal>". The
// first line is "child\t<pid>\t<exit code>". Its own exit code is 0 when it
// could listen and start the program, else 1.
//
// With --listen it starts nothing: it writes <out-file>.listening once it
// listens, as a viewer started by hand at some moment would, and stops when
// <out-file>.stop appears, or after three minutes at most, so that a test
// that dies never leaves it running for long. The first line of out-file is
// then "listened".
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "UniqueHandle.h"

namespace {
constexpr DWORD kBufferBytes = 4096;  // a DWORD process id, then the text
constexpr DWORD kListenLifetimeMs = 180000;

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
// The first line, then one line per text received.
bool WriteReceived(const wchar_t* path, const char* firstLine, const std::vector<Received>& received)
{
    FILE* out = _wfopen(path, L"wb");
    if (!out) return false;
    std::fputs(firstLine, out);
    for (const Received& record : received) {
        std::fprintf(out, "%lu\t", record.processId);
        for (unsigned char byte : record.text) std::fprintf(out, "%02x", byte);
        std::fprintf(out, "\n");
    }
    std::fclose(out);
    return true;
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: dbwin_reader <out-file> <program> [arguments...]\n"
                             "       dbwin_reader --listen <out-file>\n");
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

    const bool listenOnly = lstrcmpW(argv[1], L"--listen") == 0;
    if (listenOnly) {
        const std::wstring out = argv[2];
        SetEvent(bufferReady.get());
        UniqueHandle listening(CreateFileW((out + L".listening").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
        listening.reset();
        std::vector<Received> received;
        const DWORD start = GetTickCount();
        while (GetFileAttributesW((out + L".stop").c_str()) == INVALID_FILE_ATTRIBUTES &&
               GetTickCount() - start < kListenLifetimeMs) {
            if (WaitForSingleObject(dataReady.get(), 100) != WAIT_OBJECT_0) continue;
            received.push_back(ReadRecord(view));
            SetEvent(bufferReady.get());
        }
        UnmapViewOfFile(view);
        return WriteReceived(out.c_str(), "listened\n", received) ? 0 : 1;
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

    char first[64];
    std::snprintf(first, sizeof(first), "child\t%lu\t%lu\n", started.dwProcessId, exitCode);
    return WriteReceived(argv[1], first, received) ? 0 : 1;
}
