// RWCreate: creates a directory or an empty file that every user may read
// and write.
#include "CallFrame.h"
#include "SharedSecurity.h"
#include "UniqueHandle.h"

namespace {
// The kind and the path share this one buffer, as scripts have always been
// served: with nothing below the kind, the kind itself is the path.
constexpr std::size_t kRWCreateBufferUnits = 260;

void CreateSharedDirectory(wchar_t (&buffer)[kRWCreateBufferUnits], SECURITY_ATTRIBUTES* security)
{
    // A path longer than the buffer would name some other directory cut
    // short: nothing is created.
    const bool usable = PopString(buffer, kRWCreateBufferUnits) != PopResult::TooLong;
    const BOOL created = usable && CreateDirectoryW(buffer, security);
    wsprintfW(buffer, L"%d", created ? 1 : 0);
    SetResult(buffer);
    DebugLog(L"createD:ret");
    DebugLog(buffer);
}

void CreateSharedFile(wchar_t (&buffer)[kRWCreateBufferUnits], SECURITY_ATTRIBUTES* security)
{
    const bool usable = PopString(buffer, kRWCreateBufferUnits) != PopResult::TooLong;
    UniqueHandle file(usable ? CreateFileW(buffer, FILE_ALL_ACCESS, FILE_SHARE_READ | FILE_SHARE_WRITE, security,
                                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)
                             : INVALID_HANDLE_VALUE);
    wchar_t handleText[20];
    wsprintfW(handleText, L"%d", static_cast<int>(reinterpret_cast<INT_PTR>(file.get())));
    DebugLog(L"createFile::handle");
    DebugLog(handleText);
    // The path tells the script the file is there; a failure must not read so.
    SetResult(file ? buffer : L"");
}
}  // namespace

NSIS_PLUGIN_EXPORT(RWCreate)
{
    wchar_t buffer[kRWCreateBufferUnits] = {};
    SharedSecurityAttributes security;
    PopString(buffer, kRWCreateBufferUnits);
    // Without the shared rule the object would carry only the creator's
    // default rights, which is what this export exists to avoid: nothing is
    // created, and the path stays on the stack.
    if (!security.get()) return;
    if (lstrcmpW(buffer, L"DIR") == 0) CreateSharedDirectory(buffer, security.get());
    else if (lstrcmpW(buffer, L"FILE") == 0) CreateSharedFile(buffer, security.get());
}
