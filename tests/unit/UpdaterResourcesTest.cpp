#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <algorithm>
#include <vector>

#include "LoadedLibrary.h"
#include "TestPaths.h"
#include "resources/resource.h"

namespace {
// Reads a DLGTEMPLATEEX and its items back from raw resource bytes.
class TemplateReader {
public:
    explicit TemplateReader(const BYTE* data) : at_(data) {}
    WORD Word() { WORD v; CopyMemory(&v, at_, 2); at_ += 2; return v; }
    DWORD Dword() { DWORD v; CopyMemory(&v, at_, 4); at_ += 4; return v; }
    short Short() { return static_cast<short>(Word()); }
    BYTE Byte() { return *at_++; }
    // A text, or 0xFFFF and an ordinal (given back as "#n").
    std::wstring TextOrOrdinal()
    {
        WORD first = Word();
        if (first == 0xFFFF) return L"#" + std::to_wstring(Word());
        std::wstring text;
        for (; first != 0; first = Word()) text += static_cast<wchar_t>(first);
        return text;
    }
    void AlignDword(const BYTE* base) { while ((at_ - base) % 4) ++at_; }

private:
    const BYTE* at_;
};

struct Control {
    DWORD id, exStyle, style;
    short x, y, cx, cy;
    std::wstring windowClass, text;
};

class UpdaterResources : public testing::Test {
protected:
    void SetUp() override
    {
        module_.reset(LoadLibraryExW(BesideTests(L"Quillon.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
        ASSERT_TRUE(module_);
    }
    const BYTE* Resource(LPCWSTR type, LPCWSTR name, DWORD* size = nullptr) const
    {
        HRSRC found = FindResourceExW(module_.get(), type, name, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
        if (!found) return nullptr;
        if (size) *size = SizeofResource(module_.get(), found);
        return static_cast<const BYTE*>(LockResource(LoadResource(module_.get(), found)));
    }
    LoadedLibrary module_;
};

TEST_F(UpdaterResources, UpdateDialogTemplate)
{
    const BYTE* data = Resource(RT_DIALOG, MAKEINTRESOURCEW(IDD_UPDATE));
    ASSERT_NE(data, nullptr) << "dialog 101 in language 1033";
    TemplateReader read(data);
    EXPECT_EQ(read.Word(), 1);       // dlgVer
    EXPECT_EQ(read.Word(), 0xFFFF);  // extended template
    EXPECT_EQ(read.Dword(), 0u);     // help id
    EXPECT_EQ(read.Dword(), 0x00000088u);
    EXPECT_EQ(read.Dword(), 0x80C808C8u);
    const WORD count = read.Word();
    ASSERT_EQ(count, 4);
    EXPECT_EQ(read.Short(), 0);
    EXPECT_EQ(read.Short(), 0);
    EXPECT_EQ(read.Short(), 233);
    EXPECT_EQ(read.Short(), 73);
    EXPECT_EQ(read.TextOrOrdinal(), L"");  // no menu
    EXPECT_EQ(read.TextOrOrdinal(), L"");  // system dialog class
    EXPECT_EQ(read.TextOrOrdinal(), L"Quillon");
    EXPECT_EQ(read.Word(), 8);    // points
    EXPECT_EQ(read.Word(), 400);  // weight
    EXPECT_EQ(read.Byte(), 0);    // italic
    EXPECT_EQ(read.Byte(), 1);    // character set
    EXPECT_EQ(read.TextOrOrdinal(), L"MS Shell Dlg");

    std::vector<Control> controls;
    for (int i = 0; i < count; ++i) {
        read.AlignDword(data);
        Control c;
        read.Dword();  // help id
        c.exStyle = read.Dword();
        c.style = read.Dword();
        c.x = read.Short();
        c.y = read.Short();
        c.cx = read.Short();
        c.cy = read.Short();
        c.id = read.Dword();
        c.windowClass = read.TextOrOrdinal();
        c.text = read.TextOrOrdinal();
        const WORD extra = read.Word();
        EXPECT_EQ(extra, 0);
        controls.push_back(c);
    }
    // Predefined classes are stored as ordinals: 0x80 button, 0x82 static.
    const Control expected[] = {
        {1002, 0, 0x50020000, 7, 11, 219, 8, L"#130", L""},
        {1001, 0, 0x50800000, 7, 26, 219, 14, L"msctls_progress32", L""},
        {1003, 0, 0x58010001, 7, 50, 50, 14, L"#128", L"Install"},
        {2, 0, 0x50010000, 92, 52, 50, 14, L"#128", L"CANCEL"},
    };
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(testing::Message() << "control " << i);
        const Control& c = controls[i];
        const Control& e = expected[i];
        EXPECT_EQ(c.id, e.id);
        EXPECT_EQ(c.exStyle, e.exStyle);
        EXPECT_EQ(c.style, e.style);
        EXPECT_EQ(c.x, e.x);
        EXPECT_EQ(c.y, e.y);
        EXPECT_EQ(c.cx, e.cx);
        EXPECT_EQ(c.cy, e.cy);
        EXPECT_EQ(CompareStringOrdinal(c.windowClass.c_str(), -1, e.windowClass.c_str(), -1, TRUE), CSTR_EQUAL)
            << "class " << c.windowClass;
        EXPECT_EQ(c.text, e.text);
    }
}

TEST_F(UpdaterResources, ApplicationManifest)
{
    DWORD size = 0;
    const BYTE* data = Resource(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1), &size);
    ASSERT_NE(data, nullptr) << "manifest 24/1";
    const std::string manifest(reinterpret_cast<const char*>(data), size);
    const char* required[] = {
        R"(processorArchitecture="x86" version="5.1.0.0" type="win32" name="Quillon.exe.manifest")",
        R"(<requestedExecutionLevel level="asInvoker" uiAccess="false"/>)",
        R"(<description>Quillon</description>)",
        R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0" publicKeyToken="6595b64144ccf1df" language="*" processorArchitecture="x86")",
    };
    for (const char* text : required) EXPECT_NE(manifest.find(text), std::string::npos) << text;
}

BOOL CALLBACK CollectResourceType(HMODULE, LPWSTR type, LONG_PTR list)
{
    reinterpret_cast<std::vector<ULONG_PTR>*>(list)->push_back(
        IS_INTRESOURCE(type) ? reinterpret_cast<ULONG_PTR>(type) : 0);
    return TRUE;
}

// The program carries just the dialog, the manifest and its version
// information (VersionResourceTest.cpp): no string table, nothing else.
TEST_F(UpdaterResources, NoOtherResourceTypes)
{
    std::vector<ULONG_PTR> types;
    EnumResourceTypesW(module_.get(), CollectResourceType, reinterpret_cast<LONG_PTR>(&types));
    std::sort(types.begin(), types.end());
    EXPECT_EQ(types, (std::vector<ULONG_PTR>{5, 16, 24}));  // RT_DIALOG, RT_VERSION, RT_MANIFEST
}
}  // namespace
