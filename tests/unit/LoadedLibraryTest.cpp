#include <gtest/gtest.h>

#include <windows.h>

#include "LoadedLibrary.h"
#include "UniqueHandle.h"
#include "Wow64.h"

namespace {
// The machine a PE file is built for, from its headers; 0 when they cannot
// be read.
WORD ImageMachine(const std::wstring& path)
{
    const UniqueHandle file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    IMAGE_DOS_HEADER dos = {};
    DWORD read = 0;
    if (!file || !ReadFile(file.get(), &dos, sizeof(dos), &read, nullptr) || read != sizeof(dos) ||
        dos.e_magic != IMAGE_DOS_SIGNATURE)
        return 0;
    DWORD signature = 0;
    IMAGE_FILE_HEADER header = {};
    if (SetFilePointer(file.get(), dos.e_lfanew, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
        !ReadFile(file.get(), &signature, sizeof(signature), &read, nullptr) || signature != IMAGE_NT_SIGNATURE ||
        !ReadFile(file.get(), &header, sizeof(header), &read, nullptr) || read != sizeof(header))
        return 0;
    return header.Machine;
}

// File-system redirection turned off for this thread while it lives, as an
// installer script may leave it around a plug-in call; nothing on a system
// without redirection.
class RedirectionOff {
public:
    RedirectionOff()
    {
        const HMODULE kernel = GetModuleHandleW(L"kernel32");
        const auto disable = FindExport<BOOL(WINAPI*)(PVOID*)>(kernel, "Wow64DisableWow64FsRedirection");
        revert_ = FindExport<BOOL(WINAPI*)(PVOID)>(kernel, "Wow64RevertWow64FsRedirection");
        off_ = IsWow64() && disable && revert_ && disable(&previous_);
    }
    ~RedirectionOff()
    {
        if (off_) revert_(previous_);
    }
    RedirectionOff(const RedirectionOff&) = delete;
    RedirectionOff& operator=(const RedirectionOff&) = delete;
    bool Off() const { return off_; }

private:
    BOOL(WINAPI* revert_)(PVOID) = nullptr;
    PVOID previous_ = nullptr;
    bool off_ = false;
};

// With redirection off, System32 names the 64-bit system's DLLs, which a
// 32-bit process cannot load (Windows refuses them; Wine quietly loads its own
// 32-bit DLL instead, so the load alone would prove nothing here). The path
// must name a DLL of this process's own kind either way.
TEST(SystemLibraryPath, NamesADllOfThisProcessKindWithRedirectionOff)
{
    WORD machine = 0;
    bool loaded = false;
    {
        const RedirectionOff redirection;
        if (IsWow64()) {
            ASSERT_TRUE(redirection.Off());
        }
        machine = ImageMachine(SystemLibraryPath(L"psapi.dll"));
        loaded = static_cast<bool>(LoadSystemLibrary(L"psapi.dll"));
    }
    EXPECT_EQ(machine, sizeof(void*) == 8 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386);
    EXPECT_TRUE(loaded);
}

TEST(SystemLibraryPath, RefusesAPathLongerThanMaxPath)
{
    EXPECT_EQ(SystemLibraryPath(std::wstring(MAX_PATH, L'a').c_str()), L"");
    EXPECT_FALSE(LoadSystemLibrary(std::wstring(MAX_PATH, L'a').c_str()));
}
}  // namespace
