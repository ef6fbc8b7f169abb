#include <gtest/gtest.h>

#include <windows.h>

#include "ProductKey.h"
#include "ProductSettings.h"
#include "RegistryKey.h"
#include "TestPaths.h"
#include "Wow64.h"

namespace {
// Gives each test an empty product key in the given view and removes it after.
class ProductKeyTest : public testing::Test {
protected:
    void SetUp() override { Remove(); }
    void TearDown() override { Remove(); }

    static void Remove()
    {
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) RegDeleteTreeInView(view);
    }
    static void RegDeleteTreeInView(REGSAM view)
    {
        RegistryKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, KEY_ALL_ACCESS | view, key.put()) == ERROR_SUCCESS)
            RegDeleteTreeW(key.get(), nullptr);
        key.reset();
        using DeleteKeyEx = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
        auto deleteKeyEx = reinterpret_cast<DeleteKeyEx>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"advapi32"), "RegDeleteKeyExW")));
        if (deleteKeyEx) deleteKeyEx(HKEY_LOCAL_MACHINE, kProductKeyPath, view, 0);
    }
    static void Set(const wchar_t* name, DWORD type, const void* data, DWORD size, REGSAM view = 0)
    {
        RegistryKey key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr,
                                  key.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    }
    static void SetString(const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ, REGSAM view = 0)
    {
        Set(name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)), view);
    }
    static void SetDword(const wchar_t* name, DWORD value, REGSAM view = 0)
    {
        Set(name, REG_DWORD, &value, sizeof(value), view);
    }
};

TEST_F(ProductKeyTest, DwordValues)
{
    SetDword(L"DisplayVersion", 4294967295u);
    EXPECT_EQ(ReadProductDword(L"DisplayVersion"), 4294967295u);
    SetDword(L"DisplayVersion", 7);
    EXPECT_EQ(ReadProductDword(L"DisplayVersion"), 7u);

    // Wrong type or size reads as absent, like a missing value.
    SetString(L"DisplayVersion", L"9");
    EXPECT_EQ(ReadProductDword(L"DisplayVersion"), 0u);
    const unsigned long long wide = 5;
    Set(L"DisplayVersion", REG_QWORD, &wide, sizeof(wide));
    EXPECT_EQ(ReadProductDword(L"DisplayVersion"), 0u);
    const WORD shortData = 5;
    Set(L"DisplayVersion", REG_DWORD, &shortData, sizeof(shortData));
    EXPECT_EQ(ReadProductDword(L"DisplayVersion"), 0u);
    EXPECT_EQ(ReadProductDword(L"NoSuchValue"), 0u);
}

TEST_F(ProductKeyTest, StringValuesUpToTheBuffer)
{
    struct Case { std::size_t length; bool readWhole; };
    const Case cases[] = {{0, true}, {127, true}, {128, true}, {259, true}, {260, false}, {1000, false}};
    for (const Case& c : cases) {
        const std::wstring url = L"h" + std::wstring(c.length > 0 ? c.length - 1 : 0, L'u');
        const std::wstring value = url.substr(0, c.length);
        SetString(L"SoftServerUrl", value);
        EXPECT_EQ(ReadProductString(L"SoftServerUrl"), c.readWhole ? value : L"") << "length " << c.length;
    }
}

TEST_F(ProductKeyTest, StringWithoutTerminatorOrOfAnotherType)
{
    const std::wstring text = L"http://server";
    Set(L"SoftServerUrl", REG_SZ, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)));
    EXPECT_EQ(ReadProductString(L"SoftServerUrl"), text);

    // 260 units with no room left for a terminator.
    const std::wstring full(kProductStringCapacity, L'f');
    Set(L"SoftServerUrl", REG_SZ, full.data(), static_cast<DWORD>(full.size() * sizeof(wchar_t)));
    EXPECT_EQ(ReadProductString(L"SoftServerUrl"), L"");

    // Text stops at the first null unit.
    const wchar_t embedded[] = L"abc\0def";
    Set(L"SoftServerUrl", REG_SZ, embedded, sizeof(embedded));
    EXPECT_EQ(ReadProductString(L"SoftServerUrl"), L"abc");

    SetString(L"SoftServerUrl", L"%TEMP%", REG_EXPAND_SZ);
    EXPECT_EQ(ReadProductString(L"SoftServerUrl"), L"");
    SetString(L"SoftServerUrl", L"a", REG_MULTI_SZ);
    EXPECT_EQ(ReadProductString(L"SoftServerUrl"), L"");
    SetDword(L"SoftServerUrl", 1);
    EXPECT_EQ(ReadProductString(L"SoftServerUrl"), L"");
    EXPECT_EQ(ReadProductString(L"NoSuchValue"), L"");
}

TEST_F(ProductKeyTest, OpenOrCreateLeavesAnEmptyKey)
{
    EXPECT_EQ(ReadProductDword(L"DisplayVersion"), 0u);
    RegistryKey key;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, KEY_READ, key.put()), ERROR_SUCCESS);
}

// On 64-bit Windows the 32-bit updater reads the key of the 32-bit view; the
// 64-bit view's values are never seen. On 32-bit Windows there is one view.
TEST_F(ProductKeyTest, ReadsTheThirtyTwoBitView)
{
    SetDword(L"DisplayVersion", 32, KEY_WOW64_32KEY);
    SetString(L"SoftServerUrl", L"http://view32", REG_SZ, KEY_WOW64_32KEY);
    SetDword(L"DisplayVersion", 64, KEY_WOW64_64KEY);
    SetString(L"SoftServerUrl", L"http://view64", REG_SZ, KEY_WOW64_64KEY);
    const std::wstring arch = Environment(L"QUILLON_TEST_WINEARCH");
    if (arch.empty()) GTEST_SKIP() << "QUILLON_TEST_WINEARCH not set";
    const bool twoViews = arch == L"win64";
    EXPECT_EQ(ReadProductDword(L"DisplayVersion"), twoViews ? 32u : 64u);
    EXPECT_EQ(ReadProductString(L"SoftServerUrl"), twoViews ? L"http://view32" : L"http://view64");
}
}  // namespace
