#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <memory>

#include "HelperProcess.h"
#include "LoadedLibrary.h"
#include "NsisHost.h"
#include "TestPaths.h"
#include "TraceCapture.h"
#include "UniqueHandle.h"

namespace {
struct Ace {
    BYTE type;
    BYTE flags;
    DWORD mask;
    std::wstring sid;
};

struct LocalMemoryFree {
    void operator()(void* memory) const { LocalFree(memory); }
};

// The DACL that the system actually keeps for a file or directory, read back.
bool ReadDacl(const std::wstring& path, bool& present, std::vector<Ace>& aces)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    std::unique_ptr<void, LocalMemoryFree> owner(descriptor);
    present = dacl != nullptr;
    aces.clear();
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace))) return false;
        wchar_t* sidText = nullptr;
        ConvertSidToStringSidW(&ace->SidStart, &sidText);
        std::unique_ptr<void, LocalMemoryFree> sidOwner(sidText);
        aces.push_back({ace->Header.AceType, ace->Header.AceFlags, ace->Mask, sidText ? sidText : L"?"});
    }
    return true;
}

bool GrantsEveryoneFullAccess(const std::vector<Ace>& aces, BYTE flags)
{
    for (const Ace& ace : aces)
        if (ace.type == ACCESS_ALLOWED_ACE_TYPE && ace.sid == L"S-1-1-0" && (ace.mask & FILE_ALL_ACCESS) == FILE_ALL_ACCESS &&
            (ace.flags & flags) == flags)
            return true;
    return false;
}

std::string Describe(const std::vector<Ace>& aces)
{
    std::string text;
    char line[128];
    for (const Ace& ace : aces) {
        wsprintfA(line, "[type %u flags 0x%02x mask 0x%08lx %ls] ", ace.type, ace.flags, ace.mask, ace.sid.c_str());
        text += line;
    }
    return text;
}

// Whether this system keeps a DACL as set. Wine does not: it derives one from
// the Unix mode bits when asked, whatever was set.
bool SystemKeepsDacls(const std::wstring& scratch)
{
    const std::wstring probe = scratch + L"\\dacl-probe";
    CreateDirectoryW(probe.c_str(), nullptr);
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) return false;
    std::vector<BYTE> aclBuffer(256);
    PACL acl = reinterpret_cast<PACL>(aclBuffer.data());
    InitializeAcl(acl, static_cast<DWORD>(aclBuffer.size()), ACL_REVISION);
    AddAccessAllowedAce(acl, ACL_REVISION, FILE_GENERIC_READ, everyone);
    const DWORD set = SetNamedSecurityInfoW(const_cast<wchar_t*>(probe.c_str()), SE_FILE_OBJECT,
                                            DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                            nullptr, acl, nullptr);
    FreeSid(everyone);
    bool present = false;
    std::vector<Ace> aces;
    const bool kept = set == ERROR_SUCCESS && ReadDacl(probe, present, aces) && aces.size() == 1 &&
                      aces[0].sid == L"S-1-1-0" && aces[0].mask == FILE_GENERIC_READ;
    RemoveDirectoryW(probe.c_str());
    return kept;
}

bool IsDirectory(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

LONGLONG FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

class RWCreateExport : public testing::Test {
protected:
    void SetUp() override
    {
        plugin_.reset(LoadLibraryW(BesideTests(L"Plugin.dll").c_str()));
        ASSERT_TRUE(plugin_);
        rwCreate_ = plugin_.Find<NsisHost::Export>("RWCreate");
        ASSERT_NE(rwCreate_, nullptr);
    }
    // Calls RWCreate with the kind above the path, as a script pushes them.
    std::wstring Run(const std::wstring& kind, const std::wstring& path, std::vector<std::wstring>* trace = nullptr)
    {
        NsisHost host;
        host.Push(path);
        host.Push(kind);
        host.SetVariable(10, L"untouched");
        TraceCapture capture;
        host.Call(rwCreate_);
        EXPECT_TRUE(host.Leaked().empty());
        if (trace) *trace = capture.Texts();
        remaining_ = host.Stack();
        return host.R0();
    }

    LoadedLibrary plugin_;
    NsisHost::Export rwCreate_ = nullptr;
    ScratchDirectory scratch_{L"rwcreate"};
    std::vector<std::wstring> remaining_;
};

// The directory carries one explicit rule, Everyone: full access, which it
// passes on to what is created in it later.
TEST_F(RWCreateExport, DirectoryGrantsEveryoneFullAccessAndPassesItOn)
{
    const std::wstring directory = scratch_ / L"Shared";
    std::vector<std::wstring> trace;
    EXPECT_EQ(Run(L"DIR", directory, &trace), L"1");
    EXPECT_EQ(trace, (std::vector<std::wstring>{L"DIR", directory, L"createD:ret", L"1"}));
    ASSERT_TRUE(IsDirectory(directory));

    if (!SystemKeepsDacls(scratch_.Path())) GTEST_SKIP() << "this system does not keep the DACLs it is given";
    bool present = false;
    std::vector<Ace> aces;
    ASSERT_TRUE(ReadDacl(directory, present, aces));
    EXPECT_TRUE(present) << "a null DACL lets anyone change the rules themselves";
    EXPECT_EQ(aces.size(), 1u) << Describe(aces);
    EXPECT_TRUE(GrantsEveryoneFullAccess(aces, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)) << Describe(aces);

    // A file another user later creates inside, with default security.
    const std::wstring inner = directory + L"\\later.txt";
    UniqueHandle file(CreateFileW(inner.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    file.reset();
    ASSERT_TRUE(ReadDacl(inner, present, aces));
    EXPECT_TRUE(GrantsEveryoneFullAccess(aces, INHERITED_ACE)) << "the rule was not inherited: " << Describe(aces);
}

TEST_F(RWCreateExport, FileIsCreatedEmptyClosedAndShared)
{
    const std::wstring path = scratch_ / L"shared.dat";
    std::vector<std::wstring> trace;
    EXPECT_EQ(Run(L"FILE", path, &trace), path);
    ASSERT_EQ(trace.size(), 4u);
    EXPECT_EQ(std::vector<std::wstring>(trace.begin(), trace.begin() + 3),
              (std::vector<std::wstring>{L"FILE", path, L"createFile::handle"}));
    EXPECT_NE(trace[3], L"-1");
    EXPECT_NE(trace[3].find_first_not_of(L"-0123456789"), 0u);
    EXPECT_EQ(FileSize(path), 0);
    // Exclusive access is only granted once the export has closed its handle.
    UniqueHandle exclusive(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(exclusive);
    exclusive.reset();

    if (!SystemKeepsDacls(scratch_.Path())) GTEST_SKIP() << "this system does not keep the DACLs it is given";
    bool present = false;
    std::vector<Ace> aces;
    ASSERT_TRUE(ReadDacl(path, present, aces));
    EXPECT_TRUE(present);
    EXPECT_TRUE(GrantsEveryoneFullAccess(aces, 0)) << Describe(aces);
}

// What scripts get for existing, parentless, over-long and unknown requests.
TEST_F(RWCreateExport, ResultsForExistingParentlessAndRejectedRequests)
{
    const std::wstring existingDirectory = scratch_ / L"existing";
    ASSERT_TRUE(CreateDirectoryW(existingDirectory.c_str(), nullptr));
    const std::wstring existingFile = scratch_ / L"existing.txt";
    {
        UniqueHandle file(CreateFileW(existingFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.get(), "content", 7, &written, nullptr));
    }
    const std::wstring parentless = scratch_ / L"missing\\child";
    // 260 units: one beyond the buffer. Cut short it would name the 259-unit
    // path, which must not appear either.
    const std::wstring tooLong = scratch_ / std::wstring(260 - scratch_.Path().size() - 1, L'x');
    const std::wstring cutShort = tooLong.substr(0, 259);

    struct Case { const wchar_t* kind; std::wstring path; std::wstring r0; const wchar_t* lastTrace; };
    const Case cases[] = {
        {L"DIR", existingDirectory, L"0", L"0"},
        {L"DIR", parentless, L"0", L"0"},
        {L"DIR", tooLong, L"0", L"0"},
        {L"FILE", existingFile, existingFile, nullptr},
        {L"FILE", parentless, L"", L"-1"},   // a failure does not read as the path
        {L"FILE", tooLong, L"", L"-1"},
        {L"FILE", existingDirectory, L"", L"-1"},
    };
    for (const Case& c : cases) {
        std::vector<std::wstring> trace;
        EXPECT_EQ(Run(c.kind, c.path, &trace), c.r0) << c.path.size();
        if (c.lastTrace) {
            EXPECT_EQ(trace.back(), c.lastTrace);
        }
        EXPECT_TRUE(remaining_.empty());
    }
    EXPECT_EQ(FileSize(existingFile), 0) << "CREATE_ALWAYS empties an existing file";
    EXPECT_EQ(GetFileAttributesW(existingFile.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), 0u);
    EXPECT_EQ(GetFileAttributesW(parentless.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW(cutShort.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW(tooLong.c_str()), INVALID_FILE_ATTRIBUTES);

    // Other kinds, the two words in other letter case included, do nothing
    // and leave the path on the stack.
    for (const wchar_t* kind : {L"dir", L"File", L"DIR ", L""}) {
        EXPECT_EQ(Run(kind, scratch_ / L"other"), L"untouched") << std::wstring(kind).size();
        EXPECT_EQ(remaining_, std::vector<std::wstring>{scratch_ / L"other"});
    }
    EXPECT_EQ(GetFileAttributesW((scratch_ / L"other").c_str()), INVALID_FILE_ATTRIBUTES);
}

// With nothing below the kind, the kind itself serves as the path, in the
// current directory; with nothing at all, nothing happens.
TEST_F(RWCreateExport, DryStackUsesTheKindAsThePath)
{
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(scratch_.Path().c_str()));
    for (const wchar_t* kind : {L"DIR", L"FILE"}) {
        NsisHost host;
        host.Push(kind);
        host.Call(rwCreate_);
        EXPECT_EQ(host.R0(), std::wstring(kind) == L"DIR" ? L"1" : L"FILE");
    }
    NsisHost empty;
    empty.SetVariable(10, L"untouched");
    empty.Call(rwCreate_);
    EXPECT_EQ(empty.R0(), L"untouched");
    SetCurrentDirectoryW(previous);

    EXPECT_TRUE(IsDirectory(scratch_ / L"DIR"));
    EXPECT_EQ(FileSize(scratch_ / L"FILE"), 0);
}

}  // namespace
