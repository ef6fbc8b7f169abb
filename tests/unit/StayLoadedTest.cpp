// Staying loaded between calls: the real Plugin.dll called through the
// in-process NSIS host with and without NSIS's extra parameters.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LoadedLibrary.h"
#include "NsisHost.h"
#include "RegistryKey.h"
#include "StayLoaded.h"
#include "TestPaths.h"

namespace {
const wchar_t kKey[] = L"Software\\QuillonTests\\StayLoaded";

// NSIS's extra parameters: a pointer to the flags and three function
// pointers, pointer-sized in either build, as the host and the plug-in see them.
static_assert(sizeof(NsisHost::ExtraParameters) == 4 * sizeof(void*) &&
                  sizeof(NsisExtraParameters) == sizeof(NsisHost::ExtraParameters) &&
                  offsetof(NsisHost::ExecFlags, pluginApiVersion) == offsetof(NsisExecFlags, pluginApiVersion),
              "the host's extra parameters and the plug-in's");

int __stdcall Register(HMODULE, NsisPluginCallback)
{
    return 0;
}

TEST(HostKeepsPluginsLoaded, OnlyWithTheExtraParametersOfPluginInterface1_0OrLater)
{
    NsisExecFlags flags = {};
    struct Case { const char* what; bool extra; bool execFlags; int version; bool registrar; bool keeps; };
    const Case cases[] = {
        {"no extra parameters (older or foreign host)", false, false, 0, false, false},
        {"no exec flags", true, false, kNsisPluginApi1_0, true, false},
        {"interface before 1.0", true, true, kNsisPluginApi1_0 - 1, true, false},
        {"interface 1.0", true, true, kNsisPluginApi1_0, true, true},
        {"a later interface", true, true, kNsisPluginApi1_0 + 0x100, true, true},
        {"no registration function", true, true, kNsisPluginApi1_0, false, false},
    };
    for (const Case& c : cases) {
        flags.pluginApiVersion = c.version;
        const NsisExtraParameters extra = {c.execFlags ? &flags : nullptr, nullptr, nullptr,
                                           c.registrar ? &Register : nullptr};
        EXPECT_EQ(HostKeepsPluginsLoaded(c.extra ? &extra : nullptr), c.keeps) << c.what;
    }
}

class StayLoadedExports : public testing::Test {
protected:
    void SetUp() override
    {
        path_ = BesideTests(L"Plugin.dll");
        ASSERT_EQ(GetModuleHandleW(path_.c_str()), nullptr) << "another test holds Plugin.dll";
        plugin_.reset(LoadLibraryW(path_.c_str()));
        ASSERT_TRUE(plugin_);
    }
    void TearDown() override
    {
        plugin_.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
        RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
    }
    NsisHost::Export Find(const char* name) const { return plugin_.Find<NsisHost::Export>(name); }

    // WriteRegStr of text into kKey, then what the registry holds.
    std::wstring WriteAndRead(NsisHost& host, bool withExtra, const std::wstring& text)
    {
        for (const wchar_t* argument : {L"end", text.c_str(), L"V", kKey, L"HKCU", L"/x86"}) host.Push(argument);
        if (withExtra) host.CallWithExtra(Find("WriteRegStr"));
        else host.Call(Find("WriteRegStr"));
        RegistryKey key;
        wchar_t stored[64] = {};
        DWORD size = sizeof(stored) - sizeof(wchar_t);
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ | KEY_WOW64_32KEY, key.put()) == ERROR_SUCCESS)
            RegQueryValueExW(key.get(), L"V", nullptr, nullptr, reinterpret_cast<BYTE*>(stored), &size);
        return stored;
    }

    std::wstring path_;
    LoadedLibrary plugin_;
};

// NSIS's road: one registration for the whole installer, with the plug-in's
// own module; a window-gone message changes nothing.
TEST_F(StayLoadedExports, RegistersOnceAcrossCallsOfEveryKind)
{
    NsisHost host;
    EXPECT_EQ(WriteAndRead(host, true, L"first"), L"first");
    host.CallWithExtra(Find("IsSupport64"));
    host.Notify(NsisHost::kGuiUnload);
    EXPECT_EQ(WriteAndRead(host, true, L"second"), L"second");
    host.Push(L"no-such-program.exe");
    host.CallWithExtra(Find("FindProc"));
    EXPECT_EQ(host.R0(), L"0");

    EXPECT_EQ(host.RegistrationRequests(), 1);
    ASSERT_EQ(host.Registrations().size(), 1u);
    EXPECT_EQ(host.Registrations()[0].module, plugin_.get());
    EXPECT_TRUE(host.Stack().empty());
    host.Notify(NsisHost::kUnload);
}

// Hosts that do not offer to keep the plug-in are served as before, and
// asked nothing.
TEST_F(StayLoadedExports, HostsWithoutTheOfferAreServedWithoutRegistering)
{
    NsisHost host;
    EXPECT_EQ(WriteAndRead(host, false, L"no extra"), L"no extra");
    host.SetPluginApiVersion(kNsisPluginApi1_0 - 1);
    EXPECT_EQ(WriteAndRead(host, true, L"old interface"), L"old interface");
    EXPECT_EQ(host.RegistrationRequests(), 0);
}

// After the installer's end the plug-in holds nothing: a broken host that
// calls again still gets a working call (and a new registration), and once
// the host frees it the DLL is gone from the process.
TEST_F(StayLoadedExports, AfterUnloadCallsStillWorkAndTheDllCanBeFreed)
{
    NsisHost host;
    EXPECT_EQ(WriteAndRead(host, true, L"before"), L"before");
    host.Notify(NsisHost::kUnload);
    EXPECT_EQ(WriteAndRead(host, false, L"after, no extra"), L"after, no extra");
    EXPECT_EQ(WriteAndRead(host, true, L"after"), L"after");
    EXPECT_EQ(host.RegistrationRequests(), 2);
    host.Notify(NsisHost::kUnload);

    plugin_.reset();
    EXPECT_EQ(GetModuleHandleW(path_.c_str()), nullptr) << "the plug-in keeps itself loaded";
}
}  // namespace
