// The five registry exports of Plugin.dll, called through an in-process NSIS
// host, with the registry read back in each view afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "LoadedLibrary.h"
#include "NsisHost.h"
#include "RegistryKey.h"
#include "TestPaths.h"
#include "TraceCapture.h"
#include "Wow64.h"

namespace {
using Texts = std::vector<std::wstring>;

constexpr REGSAM kView32 = KEY_WOW64_32KEY;
constexpr REGSAM kView64 = KEY_WOW64_64KEY;
const wchar_t kParent[] = L"Software\\QuillonTests";
const std::wstring kKey = L"Software\\QuillonTests\\Registry";

// On 32-bit Windows the view flags are ignored and both name the one view.
bool OnWin64()
{
    const std::wstring arch = Environment(L"QUILLON_TEST_WINEARCH");
    return arch.empty() ? Is64BitWindows() : arch == L"win64";
}

std::wstring Expand(const std::wstring& text)
{
    std::wstring out = text;
    for (std::size_t at; (at = out.find(L"{K}")) != std::wstring::npos;) out.replace(at, 3, kKey);
    return out;
}

bool KeyExists(const std::wstring& path, REGSAM view)
{
    RegistryKey key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, Expand(path).c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS;
}

void CreateKey(const std::wstring& path, REGSAM view, DWORD options = REG_OPTION_NON_VOLATILE)
{
    RegistryKey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, Expand(path).c_str(), 0, nullptr, options, KEY_ALL_ACCESS | view,
                              nullptr, key.put(), nullptr), ERROR_SUCCESS) << "cannot prepare the registry";
}

void SetString(const std::wstring& path, const wchar_t* name, const wchar_t* text, REGSAM view)
{
    CreateKey(path, view);
    RegistryKey key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, Expand(path).c_str(), 0, KEY_ALL_ACCESS | view, key.put()), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                             (lstrlenW(text) + 1) * sizeof(wchar_t)), ERROR_SUCCESS);
}

struct StoredValue {
    bool exists = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
};

StoredValue ReadValue(const std::wstring& path, const wchar_t* name, REGSAM view)
{
    StoredValue value;
    RegistryKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Expand(path).c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS)
        return value;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) return value;
    value.exists = true;
    value.bytes.resize(size);
    RegQueryValueExW(key.get(), name, nullptr, &value.type, value.bytes.data(), &size);
    value.bytes.resize(size);
    return value;
}

std::vector<BYTE> StringBytes(const std::wstring& text)
{
    const BYTE* first = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(first, first + (text.size() + 1) * sizeof(wchar_t));
}

void RemoveTestKeys()
{
    for (REGSAM view : {kView32, kView64}) {
        RegistryKey parent;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kParent, 0, KEY_ALL_ACCESS | view, parent.put()) != ERROR_SUCCESS) continue;
        RegDeleteTreeW(parent.get(), L"Registry");
        parent.reset();
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kParent, view, 0);  // only when no other test area uses it
    }
}

struct CallResult {
    std::wstring r0;
    Texts trace;
    Texts left;
};

class RegistryExports : public testing::Test {
protected:
    void SetUp() override
    {
        plugin_.reset(LoadLibraryW(BesideTests(L"Plugin.dll").c_str()));
        ASSERT_TRUE(plugin_) << "Plugin.dll not found beside the tests";
        RemoveTestKeys();
        ASSERT_FALSE(KeyExists(kKey, kView32) || KeyExists(kKey, kView64)) << "test keys left from an earlier run";
    }
    void TearDown() override { RemoveTestKeys(); }

    // Pushes the arguments so that the first one is on top, with "below"
    // under them, and calls the export with $R0 set to "keep".
    CallResult Call(const char* name, const Texts& arguments, int stringSize = 1024)
    {
        const auto function = plugin_.Find<NsisHost::Export>(name);
        EXPECT_NE(function, nullptr) << name << " is not exported";
        NsisHost host(stringSize);
        host.Push(L"below");
        for (auto it = arguments.rbegin(); it != arguments.rend(); ++it) host.Push(Expand(*it));
        host.SetVariable(10, L"keep");
        host.SetVariable(11, L"R1");
        CallResult result;
        {
            TraceCapture trace;
            if (function) host.Call(function);
            result.trace = trace.Texts();
        }
        result.r0 = host.R0();
        result.left = host.Stack();
        EXPECT_TRUE(host.Leaked().empty()) << name << " popped a node without freeing it";
        EXPECT_EQ(host.Variable(11), L"R1");
        return result;
    }

    LoadedLibrary plugin_;
};

// The road a script takes most: one string into both views, the key path
// created on the way, $R0 left as the script had it.
TEST_F(RegistryExports, WriteRegStrIntoBothViews)
{
    const CallResult call =
        Call("WriteRegStr", {L"/x86", L"/x64", L"HKLM", L"{K}\\Deep\\Er", L"Path", L"C:\\A", L"end"});
    EXPECT_EQ(call.r0, L"keep");
    const std::wstring key = kKey + L"\\Deep\\Er";
    if (OnWin64()) {
        EXPECT_EQ(call.trace, (Texts{L"/x86", L"/x86", L"IN /x86", L"/x64", L"/x64", L"IN /x64", L"HKLM", L"HKLM", L"IN 1",
                                     key, key, L"IN 1", L"/SUB ", L"Path", L"Path", L"IN 1", L"/Key ",
                                     L"C:\\A", L"C:\\A", L"IN 1", L"/Key ", L"end", L"end", L"IN 1", key, key}));
        EXPECT_EQ(call.left, Texts{L"below"});
        for (REGSAM view : {kView32, kView64}) {
            const StoredValue value = ReadValue(key, L"Path", view);
            EXPECT_TRUE(value.exists) << "view " << view;
            EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ));
            EXPECT_EQ(value.bytes, StringBytes(L"C:\\A"));
            EXPECT_EQ(value.bytes.size(), 10u);
        }
    } else {
        // "/x64" is no switch on 32-bit Windows: as the first positional text
        // it names no root and the call ends before any write.
        EXPECT_EQ(call.trace, (Texts{L"/x86", L"/x86", L"IN /x86", L"/x64", L"/x64", L"IN 1"}));
        EXPECT_EQ(call.left, (Texts{L"HKLM", key, L"Path", L"C:\\A", L"end", L"below"}));
        EXPECT_FALSE(KeyExists(kKey, kView32));
    }
}

TEST_F(RegistryExports, EachSwitchWritesOnlyItsView)
{
    Call("WriteRegStr", {L"/x86", L"HKLM", L"{K}\\Only32", L"V", L"32", L"end"});
    Call("WriteRegStr", {L"HKLM", L"{K}\\Only64", L"/X64", L"V", L"64", L"end"});
    Call("WriteRegStr", {L"HKLM", L"{K}\\None", L"V", L"none", L"end"});
    EXPECT_TRUE(ReadValue(L"{K}\\Only32", L"V", kView32).exists);
    EXPECT_EQ(KeyExists(L"{K}\\Only32", kView64), !OnWin64());
    EXPECT_EQ(ReadValue(L"{K}\\Only64", L"V", kView64).exists, OnWin64());
    EXPECT_FALSE(KeyExists(L"{K}\\Only64", kView32));
    EXPECT_FALSE(KeyExists(L"{K}\\None", kView32) || KeyExists(L"{K}\\None", kView64));
}

// Later writes under the same name replace type and data; bad numbers and
// bad hexadecimal still write, as 0 and as an empty binary value.
TEST_F(RegistryExports, WritesEachKindAndReplacesTheType)
{
    CreateKey(kKey, kView32);
    struct Case { const char* function; const wchar_t* data; DWORD type; std::vector<BYTE> bytes; };
    const Case cases[] = {
        {"WriteRegStr", L"text", REG_SZ, StringBytes(L"text")},
        {"WriteRegDWORD", L"-1", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"WriteRegDWORD", L"4294967338", REG_DWORD, {42, 0, 0, 0}},
        {"WriteRegDWORD", L"12ab", REG_DWORD, {12, 0, 0, 0}},
        {"WriteRegDWORD", L"abc", REG_DWORD, {0, 0, 0, 0}},
        {"WriteRegBin", L"0A1b", REG_BINARY, {0x0A, 0x1B}},
        {"WriteRegBin", L"1F3", REG_BINARY, {0x1F, 0x30}},
        {"WriteRegBin", L"0G", REG_BINARY, {}},
        {"WriteRegStr", L"back", REG_SZ, StringBytes(L"back")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.function << " '" << c.data << "'");
        const CallResult call = Call(c.function, {L"/x86", L"HKLM", L"{K}", L"Value", c.data, L"end"});
        EXPECT_EQ(call.r0, L"keep");
        EXPECT_EQ(call.left, Texts{L"below"});
        const StoredValue value = ReadValue(kKey, L"Value", kView32);
        EXPECT_TRUE(value.exists);
        EXPECT_EQ(value.type, c.type);
        EXPECT_EQ(value.bytes, c.bytes);
    }
}

// A non-volatile key cannot be created below a volatile one: that makes key
// creation fail in one chosen view.
TEST_F(RegistryExports, KeyThatCannotBeCreatedEndsTheWrite)
{
    CreateKey(L"{K}\\Volatile", kView32, REG_OPTION_VOLATILE);
    Texts arguments = {L"/x86", L"HKLM", L"{K}\\Volatile\\Child", L"V", L"7", L"end"};
    if (OnWin64()) arguments.insert(arguments.begin(), L"/x64");
    const CallResult call = Call("WriteRegDWORD", arguments);
    EXPECT_EQ(call.r0, L"keep");
    EXPECT_EQ(call.left, Texts{L"below"});
    EXPECT_EQ(call.trace.back(), L"Reg Create ERROR");
    EXPECT_EQ(std::count(call.trace.begin(), call.trace.end(), L"Reg Create ERROR"), 1);
    EXPECT_FALSE(KeyExists(L"{K}\\Volatile\\Child", kView32));
    // The 64-bit view comes second and is not attempted.
    EXPECT_FALSE(KeyExists(L"{K}\\Volatile\\Child", kView64));
}

TEST_F(RegistryExports, FailureInThe64BitViewKeepsThe32BitWrite)
{
    if (!OnWin64()) GTEST_SKIP() << "one view only on 32-bit Windows";
    CreateKey(L"{K}\\Volatile", kView64, REG_OPTION_VOLATILE);
    const CallResult call = Call("WriteRegStr", {L"/x64", L"/x86", L"HKLM", L"{K}\\Volatile\\Child", L"V", L"D", L"end"});
    const std::wstring key = kKey + L"\\Volatile\\Child";
    EXPECT_EQ(call.r0, L"keep");
    EXPECT_EQ(Texts(call.trace.end() - 3, call.trace.end()), (Texts{L"IN 1", key, L"Reg Create ERROR"}));
    EXPECT_EQ(ReadValue(key, L"V", kView32).bytes, StringBytes(L"D"));
    EXPECT_FALSE(KeyExists(key, kView64));
}

// Arguments the grammar refuses: the answer, what stays on the stack, and no
// key anywhere.
TEST_F(RegistryExports, RefusedArgumentsTouchNoRegistry)
{
    // Cut to the buffer, each of these would still name something real: a
    // shorter key path, the data, a value that exists.
    const std::wstring overLong(2000, L'x');
    const std::wstring cutName(1023, L'x');
    std::wstring longPath = L"{K}";
    while (longPath.size() < 2000) longPath += L"\\a";
    struct Case {
        const char* function;
        int stringSize;
        Texts arguments;
        const wchar_t* r0;
        Texts left;
    };
    const Case cases[] = {
        {"WriteRegStr", 1024, {L"/x86", L"HKLM", L"{K}", L"V", L"", L"end"}, L"0", {L"end", L"below"}},
        {"WriteRegBin", 1024, {L"/x86", L"HKLM", L"{K}", L"", L"AA", L"end"}, L"0", {L"AA", L"end", L"below"}},
        {"WriteRegDWORD", 1024, {L"/x86", L"HKEY_LOCAL_MACHINE", L"{K}", L"V", L"1", L"end"}, L"keep",
         {L"{K}", L"V", L"1", L"end", L"below"}},
        {"DeleteRegValue", 1024, {L"/x86", L"HKLM ", L"{K}", L"V", L"end"}, L"keep", {L"{K}", L"V", L"end", L"below"}},
        {"DeleteRegKey", 1024, {L"/x86", L"HKPD", L"{K}", L"end"}, L"keep", {L"{K}", L"end", L"below"}},
        {"WriteRegStr", 8192, {L"/x86", L"HKLM", longPath, L"V", L"D", L"end"}, L"0", {L"V", L"D", L"end", L"below"}},
        {"WriteRegStr", 8192, {L"/x86", L"HKLM", L"{K}", L"V", overLong, L"end"}, L"0", {L"end", L"below"}},
        {"DeleteRegValue", 8192, {L"/x86", L"HKLM", L"{K}", overLong, L"end"}, L"0", {L"end", L"below"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.function << " with " << c.arguments.size() << " texts, string_size "
                                        << c.stringSize);
        CreateKey(L"{K}\\Sub", kView32);
        SetString(kKey, L"V", L"old", kView32);
        SetString(kKey, cutName.c_str(), L"old", kView32);
        const CallResult call = Call(c.function, c.arguments, c.stringSize);
        EXPECT_EQ(call.r0, c.r0);
        Texts left;
        for (const std::wstring& text : c.left) left.push_back(Expand(text));
        EXPECT_EQ(call.left, left);
        if (std::wstring(c.r0) == L"0") {
            EXPECT_EQ(call.trace.back(), L"IN para error ");
        }
        EXPECT_TRUE(KeyExists(L"{K}\\Sub", kView32));
        EXPECT_EQ(ReadValue(kKey, L"V", kView32).bytes, StringBytes(L"old"));
        EXPECT_FALSE(KeyExists(L"{K}\\a", kView32));
        EXPECT_TRUE(ReadValue(kKey, cutName.c_str(), kView32).exists);
        EXPECT_EQ(ReadValue(kKey, L"", kView32).exists, false);
        if (OnWin64()) {
            EXPECT_FALSE(KeyExists(kKey, kView64));
        }
        RemoveTestKeys();
    }
}

// A stack that runs dry: before the first text and behind a trailing switch
// the call is refused; behind the root or the last slot the last text is
// read again and the write goes ahead.
TEST_F(RegistryExports, DryStack)
{
    RegDeleteKeyExW(HKEY_CURRENT_USER, L"HKCU", kView32, 0);
    NsisHost host;
    host.SetVariable(10, L"keep");
    auto deleteKey = plugin_.Find<NsisHost::Export>("DeleteRegKey");
    ASSERT_NE(deleteKey, nullptr);
    host.Call(deleteKey);
    EXPECT_EQ(host.R0(), L"0");
    deleteKey(nullptr, host.StringSize(), host.Variables(), nullptr, nullptr);  // no stack pointer at all
    EXPECT_EQ(host.R0(), L"0");

    auto dryCall = [&](const char* function, const Texts& arguments) {
        NsisHost dry;
        for (auto it = arguments.rbegin(); it != arguments.rend(); ++it) dry.Push(Expand(*it));
        dry.SetVariable(10, L"keep");
        dry.Call(plugin_.Find<NsisHost::Export>(function));
        EXPECT_TRUE(dry.Stack().empty());
        EXPECT_TRUE(dry.Leaked().empty());
        return dry.R0();
    };
    EXPECT_EQ(dryCall("WriteRegStr", {L"HKLM", L"{K}", L"V", L"D", L"/x86"}), L"0");
    EXPECT_FALSE(KeyExists(kKey, kView32));

    EXPECT_EQ(dryCall("WriteRegStr", {L"/x86", L"HKLM", L"{K}", L"V", L"D"}), L"keep");
    EXPECT_EQ(ReadValue(kKey, L"V", kView32).bytes, StringBytes(L"D"));

    // Behind the root the root's name fills every slot: the value HKLM, data
    // HKLM, in the key HKLM below HKEY_CURRENT_USER.
    EXPECT_EQ(dryCall("WriteRegStr", {L"/x86", L"HKCU"}), L"keep");
    RegistryKey written;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"HKCU", 0, KEY_READ | kView32, written.put()), ERROR_SUCCESS);
    wchar_t data[16] = {};
    DWORD size = sizeof(data);
    EXPECT_EQ(RegQueryValueExW(written.get(), L"HKCU", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(data, L"HKCU");
    written.reset();
    RegDeleteKeyExW(HKEY_CURRENT_USER, L"HKCU", kView32, 0);
}

TEST_F(RegistryExports, DeleteRegKeyInBothViews)
{
    CreateKey(L"{K}\\Gone", kView32);
    CreateKey(L"{K}\\Gone", kView64);
    const CallResult call = Call("DeleteRegKey", {L"/x64", L"/x86", L"HKLM", L"{K}\\Gone", L"end"});
    const std::wstring key = kKey + L"\\Gone";
    EXPECT_EQ(call.r0, L"1");
    EXPECT_EQ(call.left, Texts{L"below"});
    EXPECT_EQ(call.trace, (Texts{L"/x64", L"/x64", L"IN /x64", L"/x86", L"/x86", L"IN /x86", L"HKLM", L"HKLM", L"IN 1",
                                 key, key, L"IN 1", key, L"/SUB ", L"end", L"end", L"IN 1", L"end", L"/over ",
                                 L"RegDeleteKey 32 BIt "}));
    EXPECT_FALSE(KeyExists(key, kView32));
    EXPECT_FALSE(KeyExists(key, kView64));
    EXPECT_TRUE(KeyExists(kKey, kView32));
}

// Cases whose answer is the same on 32-bit and 64-bit Windows, all in the
// 32-bit view.
TEST_F(RegistryExports, DeleteRegKeyIn32BitView)
{
    struct Case {
        const char* name;
        Texts arguments;
        const wchar_t* r0;
        bool keyStays;
        Texts traceEnd;
    };
    const Case cases[] = {
        {"empty key", {L"/x86", L"HKLM", L"{K}\\Target", L"end"}, L"1", false, {L"/over ", L"RegDeleteKey 32 BIt "}},
        {"key with sub-keys", {L"/x86", L"HKLM", L"{K}", L"end"}, L"0", true, {L"/over ", L"RegDeleteKey 32 BIt "}},
        {"key with sub-keys, /ifempty", {L"/x86", L"/ifempty", L"HKLM", L"{K}", L"end"}, L"1", true,
         {L"/over ", L"RegDeleteKey 32 BIt "}},
        {"missing key", {L"/x86", L"HKLM", L"{K}\\Missing", L"end"}, L"0", true, {L"/over ", L"RegDeleteKey 32 BIt "}},
        {"missing key, /ifempty", {L"/x86", L"HKLM", L"{K}\\Missing", L"/IfEmpty", L"end"}, L"0", true,
         {L"/over ", L"RegDeleteKey 32 BIt "}},
        {"no view switch", {L"HKLM", L"{K}\\Target", L"end"}, L"1", true, {L"end", L"/over "}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CreateKey(L"{K}\\Target", kView32);
        const CallResult call = Call("DeleteRegKey", c.arguments);
        EXPECT_EQ(call.r0, c.r0);
        EXPECT_EQ(call.left, Texts{L"below"});
        ASSERT_GE(call.trace.size(), c.traceEnd.size());
        EXPECT_EQ(Texts(call.trace.end() - c.traceEnd.size(), call.trace.end()), c.traceEnd);
        EXPECT_EQ(KeyExists(L"{K}\\Target", kView32), c.keyStays);
        EXPECT_TRUE(KeyExists(kKey, kView32));
        RemoveTestKeys();
    }
}

TEST_F(RegistryExports, DeleteRegKeyWithTwoViews)
{
    if (!OnWin64()) GTEST_SKIP() << "one view only on 32-bit Windows";
    // A failure in the 64-bit view leaves the 32-bit view alone.
    CreateKey(L"{K}\\Only32", kView32);
    CallResult call = Call("DeleteRegKey", {L"/x64", L"/x86", L"HKLM", L"{K}\\Only32", L"end"});
    EXPECT_EQ(call.r0, L"0");
    EXPECT_EQ(call.trace.back(), L"64bit  Reg del ERROR");
    EXPECT_TRUE(KeyExists(L"{K}\\Only32", kView32));

    // "/x64" alone deletes only in the 64-bit view.
    CreateKey(L"{K}\\Both", kView32);
    CreateKey(L"{K}\\Both", kView64);
    call = Call("DeleteRegKey", {L"/x64", L"HKLM", L"{K}\\Both", L"end"});
    EXPECT_EQ(call.r0, L"1");
    EXPECT_FALSE(KeyExists(L"{K}\\Both", kView64));
    EXPECT_TRUE(KeyExists(L"{K}\\Both", kView32));

    // With "/ifempty" the 64-bit count still holds in the 32-bit step when the
    // key does not exist there, so nothing is attempted in that view.
    CreateKey(L"{K}\\Parent\\Child", kView64);
    call = Call("DeleteRegKey", {L"/x64", L"/x86", L"/ifempty", L"HKLM", L"{K}\\Parent", L"end"});
    EXPECT_EQ(call.r0, L"1");
    EXPECT_TRUE(KeyExists(L"{K}\\Parent\\Child", kView64));
    // Without it the registry's refusal in the 64-bit view ends the call.
    call = Call("DeleteRegKey", {L"/x64", L"/x86", L"HKLM", L"{K}\\Parent", L"end"});
    EXPECT_EQ(call.r0, L"0");
    EXPECT_EQ(call.trace.back(), L"64bit  Reg del ERROR");
    EXPECT_TRUE(KeyExists(L"{K}\\Parent\\Child", kView64));
}

TEST_F(RegistryExports, X64AloneOn32BitWindowsDoesNothing)
{
    if (OnWin64()) GTEST_SKIP() << "needs 32-bit Windows";
    CreateKey(L"{K}\\Target", kView32);
    SetString(L"{K}\\Target", L"V", L"x", kView32);
    EXPECT_EQ(Call("DeleteRegKey", {L"/x64", L"HKLM", L"{K}\\Target", L"end"}).r0, L"1");
    EXPECT_EQ(Call("DeleteRegValue", {L"/x64", L"HKLM", L"{K}\\Target", L"V", L"end"}).r0, L"1");
    EXPECT_TRUE(ReadValue(L"{K}\\Target", L"V", kView32).exists);
}

TEST_F(RegistryExports, DeleteRegValue)
{
    SetString(kKey, L"V", L"x", kView32);
    SetString(kKey, L"V", L"x", kView64);
    SetString(kKey, L"Other", L"x", kView32);
    CallResult call = Call("DeleteRegValue", {L"/x64", L"/x86", L"HKLM", L"{K}", L"V", L"end"});
    EXPECT_EQ(call.r0, L"1");
    EXPECT_EQ(call.left, Texts{L"below"});
    Texts expected = {L"/x64", L"/x64", L"IN /x64", L"/x86", L"/x86", L"IN /x86", L"HKLM", L"HKLM", L"IN 1",
                      kKey, kKey, L"IN 1", kKey, L"/SUB ", L"V", L"V", L"IN 1", L"V", L"end", L"end", L"IN 1", L"end"};
    if (OnWin64()) expected.insert(expected.end(), {L"RegOpenKeyEx 64", L"V", L"64 Value"});
    expected.push_back(L"32 bit Value");
    EXPECT_EQ(call.trace, expected);
    EXPECT_FALSE(ReadValue(kKey, L"V", kView32).exists);
    EXPECT_FALSE(ReadValue(kKey, L"V", kView64).exists);
    EXPECT_TRUE(ReadValue(kKey, L"Other", kView32).exists);
    EXPECT_TRUE(KeyExists(kKey, kView32));

    // Gone now: a missing value is a failure, and so is a missing key.
    call = Call("DeleteRegValue", {L"/x86", L"HKLM", L"{K}", L"V", L"end"});
    EXPECT_EQ(call.r0, L"0");
    EXPECT_EQ(call.trace.back(), L"32 bit Value");
    call = Call("DeleteRegValue", {L"/x86", L"HKLM", L"{K}\\Missing", L"V", L"end"});
    EXPECT_EQ(call.r0, L"0");
    EXPECT_EQ(Texts(call.trace.end() - 2, call.trace.end()), (Texts{L"32 bit Reg open ERROR", L"32 bit Value"}));
    // "/ifempty" is no switch here: as the first text it names no root.
    call = Call("DeleteRegValue", {L"/ifempty", L"/x86", L"HKLM", L"{K}", L"Other", L"end"});
    EXPECT_EQ(call.r0, L"keep");
    EXPECT_TRUE(ReadValue(kKey, L"Other", kView32).exists);

    if (OnWin64()) {
        // The 64-bit view is first; its failure leaves the 32-bit value.
        call = Call("DeleteRegValue", {L"/x86", L"/x64", L"HKLM", L"{K}", L"Other", L"end"});
        EXPECT_EQ(call.r0, L"0");
        EXPECT_EQ(call.trace.back(), L"64bit  Reg del ERROR");
        EXPECT_TRUE(ReadValue(kKey, L"Other", kView32).exists);
    }
}
}  // namespace
