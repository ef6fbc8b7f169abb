#include <gtest/gtest.h>

#include "DllOwnerQuery.h"
#include "HelperProcess.h"
#include "LoadedLibrary.h"
#include "NsisHost.h"
#include "OwnerPrompt.h"
#include "ProductKey.h"
#include "RegistryKey.h"
#include "TestPaths.h"
#include "TraceCapture.h"
#include "UniqueHandle.h"

namespace {
// The product's installation keeps its key in the 32-bit view (the one
// view of 32-bit Windows), where the 32-bit updater reads it. Named here for
// the 64-bit tests, which would otherwise work in the 64-bit view.
constexpr REGSAM kInstalledView = KEY_WOW64_32KEY;

// Lets one test change the product key and puts it back as it was
// afterwards: deleted when the test created it, every value restored when it
// existed before.
class ProductKeyScope {
public:
    ProductKeyScope()
    {
        RegistryKey key;
        existed_ = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, KEY_QUERY_VALUE | kInstalledView, key.put()) ==
                   ERROR_SUCCESS;
        for (DWORD index = 0; existed_; ++index) {
            SavedValue value;
            wchar_t name[256];
            DWORD nameUnits = 256, bytes = 0;
            if (RegEnumValueW(key.get(), index, name, &nameUnits, nullptr, &value.type, nullptr, &bytes) != ERROR_SUCCESS)
                break;
            value.name = name;
            value.data.resize(bytes);
            nameUnits = 256;
            RegEnumValueW(key.get(), index, name, &nameUnits, nullptr, &value.type, value.data.data(), &bytes);
            saved_.push_back(value);
        }
    }
    ~ProductKeyScope()
    {
        RemoveKey();
        if (!existed_) return;
        RegistryKey key;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, nullptr, 0, KEY_SET_VALUE | kInstalledView, nullptr,
                            key.put(), nullptr) != ERROR_SUCCESS)
            return;
        for (const SavedValue& value : saved_)
            RegSetValueExW(key.get(), value.name.c_str(), 0, value.type, value.data.data(), static_cast<DWORD>(value.data.size()));
    }
    void RemoveKey()
    {
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kProductKeyPath, kInstalledView, 0);
        // A key with subkeys stays; its InstallPath must not.
        RegistryKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, KEY_SET_VALUE | kInstalledView, key.put()) ==
            ERROR_SUCCESS)
            RegDeleteValueW(key.get(), L"InstallPath");
    }
    void SetInstallPath(const std::wstring* path)
    {
        RegistryKey key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, nullptr, 0, KEY_SET_VALUE | kInstalledView,
                                  nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        if (!path) {
            RegDeleteValueW(key.get(), L"InstallPath");
            return;
        }
        RegSetValueExW(key.get(), L"InstallPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(path->c_str()),
                       static_cast<DWORD>((path->size() + 1) * sizeof(wchar_t)));
    }

private:
    struct SavedValue {
        std::wstring name;
        DWORD type = 0;
        std::vector<BYTE> data;
    };
    bool existed_ = false;
    std::vector<SavedValue> saved_;
};

// An installed product: InstallPath\langs\<system language>.ini with the lead-in.
void WriteLanguageFile(const std::wstring& installPath, const wchar_t* leadIn)
{
    CreateDirectoryW((installPath + L"\\langs").c_str(), nullptr);
    const std::wstring file = LanguageFilePath(installPath, GetSystemDefaultLangID());
    WritePrivateProfileStringW(L"TEXT", L"UPDATE_INSTALL_TITLE", leadIn, file.c_str());
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, file.c_str());  // flush the profile cache
}

TEST(LoadPromptTexts, LeadInFromTheLanguageFileOfTheInstalledProduct)
{
    ScratchDirectory product(L"product");
    ScratchDirectory unlocalised(L"unlocalised");
    WriteLanguageFile(product.Path(), L"Close these programs first:");
    const std::wstring tooLong = product.Path() + L"\\" + std::wstring(300, L'x');
    ProductKeyScope scope;

    struct Case { const char* what; bool key; const std::wstring* installPath; const wchar_t* leadIn; };
    const Case cases[] = {
        {"installed product", true, &product.Path(), L"Close these programs first:"},
        {"no product key", false, nullptr, L""},
        {"no InstallPath", true, nullptr, L""},
        {"no language file", true, &unlocalised.Path(), L""},
        {"InstallPath beyond the buffer", true, &tooLong, L""},
    };
    for (const Case& c : cases) {
        if (c.key) scope.SetInstallPath(c.installPath);
        else scope.RemoveKey();
        const PromptTexts texts = LoadPromptTexts();
        EXPECT_EQ(texts.caption, L"WRZ") << c.what;
        EXPECT_EQ(texts.leadIn, c.leadIn) << c.what;
    }
}

// Stand-ins for the message box, which record what they were shown.
struct PromptLog {
    std::vector<std::wstring> messages;
    std::vector<std::wstring> captions;
    int answer = IDCANCEL;
    DllHolderProcess* endOnPrompt = nullptr;
} g_prompts;

int RecordPrompt(const wchar_t* message, const wchar_t* caption)
{
    g_prompts.messages.push_back(message);
    g_prompts.captions.push_back(caption);
    if (g_prompts.endOnPrompt) g_prompts.endOnPrompt->End();
    return g_prompts.answer;
}

class DllOwnerQuery : public testing::Test {
protected:
    void SetUp() override
    {
        g_prompts = PromptLog();
        scope_.RemoveKey();
        dll_ = scratch_ / L"QueriedModule.dll";
        ASSERT_TRUE(CopyFileW(BesideTests(L"HeldModule.dll").c_str(), dll_.c_str(), FALSE));
    }
    void TearDown() override { g_prompts = PromptLog(); }

    ProductKeyScope scope_;
    ScratchDirectory scratch_{L"query"};
    std::wstring dll_;
};

// One scan with one owner, answered Cancel: the whole trace in order, and the
// prompt's texts.
TEST_F(DllOwnerQuery, TracesOneScanAndStopsOnCancel)
{
    DllHolderProcess holder(scratch_ / L"holder.ready", {dll_});
    ASSERT_TRUE(holder.WaitUntilReady());
    const std::wstring path = BesideTests(L"DllHolder.exe");
    const bool psapiLoadedBefore = GetModuleHandleW(L"psapi.dll") != nullptr;
    DWORD handlesBefore = 0, handlesAfter = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handlesBefore);
    TraceCapture trace;
    HoldWhileDllLoaded(L"queriedmodule.DLL", RecordPrompt);
    GetProcessHandleCount(GetCurrentProcess(), &handlesAfter);
    EXPECT_EQ(handlesAfter, handlesBefore) << "a process handle was left open";
    if (!psapiLoadedBefore) {
        EXPECT_EQ(GetModuleHandleW(L"psapi.dll"), nullptr);
    }

    ASSERT_EQ(g_prompts.messages.size(), 1u);
    EXPECT_EQ(lstrcmpiW(g_prompts.messages[0].c_str(), (L"\n\n" + path + L"\n").c_str()), 0);
    EXPECT_EQ(g_prompts.captions[0], L"WRZ");
    const std::vector<std::wstring>& t = trace.Texts();
    ASSERT_EQ(t.size(), 9u);
    const std::vector<std::wstring> fixed = {L"GetDllOwnerProcName::param", L"queriedmodule.DLL", L"In GetDllOwnerNameList",
                                             L"In GetDllOwnerList", L"GetProcessName", L""};
    EXPECT_EQ(std::vector<std::wstring>(t.begin(), t.begin() + 6), fixed);
    EXPECT_EQ(lstrcmpiW(t[6].c_str(), path.c_str()), 0);
    EXPECT_EQ(t[7], t[6]);
    EXPECT_EQ(t[8], g_prompts.messages[0]);
}

// Retry scans again; once the owner is gone the call returns without another
// prompt. A prompt that cannot be shown ends the call like Cancel.
TEST_F(DllOwnerQuery, RetryRescansAndAFailedPromptEndsTheCall)
{
    {
        DllHolderProcess holder(scratch_ / L"retry.ready", {dll_});
        ASSERT_TRUE(holder.WaitUntilReady());
        g_prompts.answer = IDRETRY;
        g_prompts.endOnPrompt = &holder;
        TraceCapture trace;
        HoldWhileDllLoaded(L"QueriedModule.dll", RecordPrompt);
        EXPECT_EQ(g_prompts.messages.size(), 1u);
        EXPECT_EQ(std::count(trace.Texts().begin(), trace.Texts().end(), L"GetDllOwnerProcName::param"), 2);
        EXPECT_EQ(trace.Texts().back(), L"\n\n");  // the second scan's message, no owner left
    }
    {
        g_prompts = PromptLog();
        DllHolderProcess holder(scratch_ / L"failed.ready", {dll_});
        ASSERT_TRUE(holder.WaitUntilReady());
        g_prompts.answer = 0;
        HoldWhileDllLoaded(L"QueriedModule.dll", RecordPrompt);
        EXPECT_EQ(g_prompts.messages.size(), 1u);
    }
    g_prompts = PromptLog();
    HoldWhileDllLoaded(L"QueriedModule.dll", RecordPrompt);  // nobody holds it now
    HoldWhileDllLoaded(L"", RecordPrompt);
    EXPECT_TRUE(g_prompts.messages.empty());
}

// The real export with the real message box, answered from this thread while
// the export waits on another, as a user would answer it.
class DllOwnerPromptBox : public DllOwnerQuery {
protected:
    struct Call {
        NsisHost host;
        NsisHost::Export function = nullptr;
    };
    static DWORD WINAPI RunExport(void* parameter)
    {
        auto* call = static_cast<Call*>(parameter);
        call->host.Call(call->function);
        return 0;
    }
    void SetUp() override
    {
        DllOwnerQuery::SetUp();
        plugin_.reset(LoadLibraryW(BesideTests(L"Plugin.dll").c_str()));
        ASSERT_TRUE(plugin_);
        call_.function = plugin_.Find<NsisHost::Export>("GetDllOwnerProcName");
        ASSERT_NE(call_.function, nullptr);
    }
    void Start(const std::wstring& dllName)
    {
        call_.host.Push(L"below");
        call_.host.Push(dllName);
        call_.host.SetVariable(10, L"untouched");
        thread_.reset(CreateThread(nullptr, 0, RunExport, &call_, 0, nullptr));
        ASSERT_TRUE(thread_);
    }
    static HWND WaitForBox(DWORD timeoutMs)
    {
        const DWORD start = GetTickCount();
        do {
            if (HWND box = FindWindowW(L"#32770", L"WRZ")) return box;
            Sleep(100);
        } while (GetTickCount() - start < timeoutMs);
        return nullptr;
    }
    static BOOL CALLBACK CollectText(HWND child, LPARAM text)
    {
        wchar_t className[32] = {};
        GetClassNameW(child, className, 32);
        wchar_t buffer[4096] = {};
        GetWindowTextW(child, buffer, 4096);
        if (lstrcmpiW(className, L"Static") == 0 && buffer[0]) *reinterpret_cast<std::wstring*>(text) = buffer;
        return TRUE;
    }
    static std::wstring MessageOf(HWND box)
    {
        std::wstring text;
        EnumChildWindows(box, CollectText, reinterpret_cast<LPARAM>(&text));
        return text;
    }
    static void Press(HWND box, int button)
    {
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
    }
    bool Returns(DWORD timeoutMs) { return WaitForSingleObject(thread_.get(), timeoutMs) == WAIT_OBJECT_0; }
    void TearDown() override
    {
        // Never leave the export waiting on a box nobody answers.
        for (int i = 0; thread_ && i < 20 && !Returns(500); ++i)
            if (HWND box = FindWindowW(L"#32770", L"WRZ")) Press(box, IDCANCEL);
        DllOwnerQuery::TearDown();
    }

    LoadedLibrary plugin_;
    Call call_;
    UniqueHandle thread_;
};

TEST_F(DllOwnerPromptBox, ShowsTheOwnersAndGoesOnAfterRetryOnceTheyEnded)
{
    ScratchDirectory product(L"boxproduct");
    WriteLanguageFile(product.Path(), L"Please close:");
    scope_.SetInstallPath(&product.Path());
    DllHolderProcess holder(scratch_ / L"box.ready", {dll_});
    ASSERT_TRUE(holder.WaitUntilReady());

    Start(L"QUERIEDMODULE.DLL");
    HWND box = WaitForBox(30000);
    ASSERT_NE(box, nullptr) << "no prompt appeared";
    Sleep(300);
    const std::wstring expected = L"Please close:\n\n" + BesideTests(L"DllHolder.exe") + L"\n";
    EXPECT_EQ(lstrcmpiW(MessageOf(box).c_str(), expected.c_str()), 0);
    EXPECT_FALSE(Returns(500)) << "the export must wait for the answer";

    holder.End();
    Press(box, IDRETRY);
    ASSERT_TRUE(Returns(30000)) << "Retry without owners must end the call";
    EXPECT_EQ(FindWindowW(L"#32770", L"WRZ"), nullptr);
    EXPECT_EQ(call_.host.R0(), L"untouched");
    EXPECT_EQ(call_.host.Stack(), std::vector<std::wstring>{L"below"});
}

// Nobody holds the DLL, or no name was given: no prompt, nothing answered,
// only the one argument popped and freed.
TEST_F(DllOwnerPromptBox, WithoutOwnersReturnsAtOnceAndAnswersNothing)
{
    NsisHost host;
    host.Push(L"below");
    host.Push(L"QueriedModule.dll");
    host.SetVariable(10, L"untouched");
    host.Call(call_.function);
    EXPECT_EQ(host.Stack(), std::vector<std::wstring>{L"below"});
    EXPECT_TRUE(host.Leaked().empty());
    EXPECT_EQ(host.R0(), L"untouched");

    NsisHost empty;
    empty.SetVariable(10, L"untouched");
    empty.Call(call_.function);
    EXPECT_EQ(empty.R0(), L"untouched");

    NsisHost large(8192);
    large.PushUnbounded(std::wstring(2000, L'x'));
    large.Call(call_.function);
    EXPECT_TRUE(large.Stack().empty());
}

TEST_F(DllOwnerPromptBox, CancelReturnsWhileOwnersRemain)
{
    DllHolderProcess holder(scratch_ / L"cancel.ready", {dll_});
    ASSERT_TRUE(holder.WaitUntilReady());
    Start(L"QueriedModule.dll");
    HWND box = WaitForBox(30000);
    ASSERT_NE(box, nullptr) << "no prompt appeared";
    Sleep(300);
    // Without the product key the message begins with the blank line.
    EXPECT_EQ(MessageOf(box).substr(0, 2), L"\n\n");
    Press(box, IDCANCEL);
    ASSERT_TRUE(Returns(30000));
    EXPECT_EQ(call_.host.R0(), L"untouched");
}

}  // namespace
