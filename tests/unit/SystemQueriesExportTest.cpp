#include <gtest/gtest.h>

#include "LoadedLibrary.h"
#include "NsisHost.h"
#include "TestPaths.h"
#include "VersionWord.h"

namespace {
class PluginExports : public testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        plugin_.reset(LoadLibraryW(BesideTests(L"Plugin.dll").c_str()));
        ASSERT_TRUE(plugin_) << "Plugin.dll not found beside the tests";
    }
    NsisHost::Export Find(const char* name) const
    {
        auto function = plugin_.Find<NsisHost::Export>(name);
        EXPECT_NE(function, nullptr) << name << " is not exported under its plain name";
        return function;
    }
    LoadedLibrary plugin_;
};

// Both answer only in $R0 and leave the stack and every other variable alone,
// whatever slot size the host uses.
TEST_P(PluginExports, SystemQueriesAnswerOnlyInR0)
{
    NsisHost host(GetParam());
    host.Push(L"bottom");
    host.Push(L"top");
    for (int slot = 0; slot < 20; ++slot) host.SetVariable(slot, L"untouched");

    host.Call(Find("IsSupport64"));
    const std::wstring arch = Environment(L"QUILLON_TEST_WINEARCH");
    if (!arch.empty()) EXPECT_EQ(host.R0(), arch == L"win64" ? L"1" : L"0");
    else EXPECT_TRUE(host.R0() == L"1" || host.R0() == L"0");

    host.Call(Find("GetSysVersion"));
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version));
    EXPECT_EQ(host.R0(), VersionWord(version.dwPlatformId, version.dwMajorVersion, version.dwMinorVersion));

    EXPECT_EQ(host.Stack(), (std::vector<std::wstring>{L"top", L"bottom"}));
    for (int slot = 0; slot < 20; ++slot) {
        if (slot == 10) continue;
        EXPECT_EQ(host.Variable(slot), L"untouched") << "slot " << slot;
    }
}

TEST_P(PluginExports, SystemQueriesWorkOnANullStack)
{
    NsisHost host(GetParam());
    auto isSupport64 = Find("IsSupport64");
    isSupport64(nullptr, host.StringSize(), host.Variables(), nullptr, nullptr);
    EXPECT_TRUE(host.R0() == L"1" || host.R0() == L"0");
}

INSTANTIATE_TEST_SUITE_P(StringSizes, PluginExports, testing::Values(1024, 8192));

}  // namespace
