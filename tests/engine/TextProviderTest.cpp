#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "EngineSupport.h"
#include "LanguageSetting.h"
#include "LoadedLibrary.h"
#include "ProductKey.h"
#include "RegistryKey.h"
#include "TestPaths.h"
#include "TextProvider.h"

namespace {
// One registry value as it was before a test, put back afterwards.
class SavedValue {
public:
    SavedValue(HKEY root, const wchar_t* name) : root(root), name(name)
    {
        RegistryKey key;
        if (RegOpenKeyExW(root, kProductKeyPath, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return;
        keyExisted = true;
        DWORD size = 0;
        if (RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return;
        data.resize(size);
        existed = RegQueryValueExW(key.get(), name, nullptr, &type, data.data(), &size) == ERROR_SUCCESS;
    }
    ~SavedValue()
    {
        RegistryKey key;
        if (RegOpenKeyExW(root, kProductKeyPath, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) return;
        if (existed)
            RegSetValueExW(key.get(), name, 0, type, data.data(), static_cast<DWORD>(data.size()));
        else
            RegDeleteValueW(key.get(), name);
        key.reset();
        if (keyExisted) return;
        // The lookups create the key; one that the test brought about goes
        // again, with its parent if nothing else lives there (a key that
        // still holds anything is not deleted).
        if (RegDeleteKeyW(root, kProductKeyPath) == ERROR_SUCCESS) RegDeleteKeyW(root, L"Software\\Orvanta");
    }

private:
    HKEY root;
    const wchar_t* name;
    DWORD type = 0;
    std::vector<BYTE> data;
    bool existed = false;
    bool keyExisted = false;
};

struct Value {
    DWORD type;  // REG_NONE: absent
    std::vector<BYTE> data;
};
Value Absent() { return {REG_NONE, {}}; }
Value Dword(DWORD v) { return {REG_DWORD, {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)}}; }
Value Typed(DWORD type, std::vector<BYTE> data) { return {type, std::move(data)}; }

class LanguageTest : public testing::Test {
protected:
    void SetUp() override
    {
        Put(HKEY_CURRENT_USER, Absent());
        Put(HKEY_LOCAL_MACHINE, Absent());
    }

    static void Put(HKEY root, const Value& value)
    {
        RegistryKey key;
        ASSERT_EQ(RegCreateKeyExW(root, kProductKeyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        if (value.type == REG_NONE)
            RegDeleteValueW(key.get(), L"LangId");
        else
            ASSERT_EQ(RegSetValueExW(key.get(), L"LangId", 0, value.type, value.data.data(),
                                     static_cast<DWORD>(value.data.size())),
                      ERROR_SUCCESS);
    }
    static Value Get(HKEY root)
    {
        RegistryKey key;
        Value value = Absent();
        if (RegOpenKeyExW(root, kProductKeyPath, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return value;
        DWORD size = 64;
        value.data.resize(size);
        if (RegQueryValueExW(key.get(), L"LangId", nullptr, &value.type, value.data.data(), &size) != ERROR_SUCCESS)
            return Absent();
        value.data.resize(size);
        return value;
    }

    static std::wstring Library(const wchar_t* name) { return BesideTests(name); }
    static bool Loaded(const std::wstring& path) { return GetModuleHandleW(path.c_str()) != nullptr; }

    SavedValue userValue{HKEY_CURRENT_USER, L"LangId"};
    SavedValue machineValue{HKEY_LOCAL_MACHINE, L"LangId"};
};

// calls: how many Glossa_Param calls the loaded copy of the probe has seen.
std::wstring ProbeText(unsigned language, const wchar_t* key, int calls = 1)
{
    return L"calls=" + std::to_wstring(calls) + L" language=" + std::to_wstring(language) +
           L" second=1 section=COMMON_INFO key=" + key + L" capacity=256";
}

// The probe library writes back what it was passed: the language from
// Glossa_Param (called once, before the text request, with 1), the section,
// the key and the capacity.
TEST_F(LanguageTest, UserValueWinsThenMachineThenEnglishAndTheChoiceIsStored)
{
    struct Case { const char* what; Value user; Value machine; unsigned language; };
    const Case cases[] = {
        {"nothing anywhere", Absent(), Absent(), 1033},
        {"machine only", Absent(), Dword(1036), 1036},
        {"user 0 counts as unset", Dword(0), Dword(2052), 2052},
        {"user set wins", Dword(1031), Dword(1036), 1031},
        {"user REG_SZ is replaced", Typed(REG_SZ, {'1', 0, '0', 0, '3', 0, '1', 0, 0, 0}), Absent(), 1033},
        {"user REG_BINARY of four bytes", Typed(REG_BINARY, {0x07, 0x04, 0, 0}), Dword(1036), 1036},
        {"user REG_QWORD", Typed(REG_QWORD, {0x07, 0x04, 0, 0, 0, 0, 0, 0}), Absent(), 1033},
        {"machine REG_SZ", Absent(), Typed(REG_SZ, {'1', 0, '0', 0, '3', 0, '6', 0, 0, 0}), 1033},
        {"an identifier the library does not know", Dword(1049), Absent(), 1049},
    };
    const std::wstring probe = Library(L"glossa_probe.dll");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Put(HKEY_CURRENT_USER, c.user);
        Put(HKEY_LOCAL_MACHINE, c.machine);
        EXPECT_EQ(TextProvider(probe).GetText(L"Quillon"), ProbeText(c.language, L"Quillon"));
        const Value stored = Get(HKEY_CURRENT_USER);
        EXPECT_EQ(stored.type, static_cast<DWORD>(REG_DWORD));
        EXPECT_EQ(stored.data, Dword(c.language).data);
        EXPECT_FALSE(Loaded(probe)) << "the library goes with its provider";
    }

    // Once stored, the user's value stays even when the machine's changes.
    Put(HKEY_CURRENT_USER, Absent());
    Put(HKEY_LOCAL_MACHINE, Dword(1036));
    EXPECT_EQ(ResolveLanguageId(), 1036u);
    Put(HKEY_LOCAL_MACHINE, Dword(1031));
    EXPECT_EQ(ResolveLanguageId(), 1036u);
}

TEST_F(LanguageTest, MissingPiecesGiveEmptyTexts)
{
    struct Case { const char* what; std::wstring library; const wchar_t* key; std::wstring text; };
    const Case cases[] = {
        {"no library", Library(L"no-such-library.dll"), L"Install", L""},
        {"no Glossa_MLGetText", Library(L"glossa_no_text.dll"), L"Install", L""},
        {"a library that writes nothing", Library(L"glossa_silent.dll"), L"Install", L""},
        {"no Glossa_Param: asked without a language",
         Library(L"glossa_no_param.dll"), L"Install",
         L"calls=0 language=0 second=0 section=COMMON_INFO key=Install capacity=256"},
        {"a text that fills the whole capacity", Library(L"glossa_probe.dll"), L"FillWholeCapacity",
         std::wstring(256, L'x')},
        {"no key", Library(L"glossa_probe.dll"), nullptr, L""},
        {"no path", L"", L"Install", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Put(HKEY_CURRENT_USER, Absent());
        EXPECT_EQ(TextProvider(c.library).GetText(c.key), c.text);
        if (!c.library.empty()) {
            EXPECT_FALSE(Loaded(c.library));
        }
        if (c.key) {
            EXPECT_EQ(Get(HKEY_CURRENT_USER).data, Dword(1033).data) << "the language is stored all the same";
        }
    }
}

// The product's library is taken from the program's own directory, by full
// path; the stand-in there speaks four languages and falls back to English.
TEST_F(LanguageTest, StandInLibraryBesideTheProgramSpeaksEveryKey)
{
    EXPECT_EQ(TextProvider().LibraryPath(), BesideTests(L"R7Glossa_WRZ.dll"));

    std::vector<std::wstring> keys = {L"Quillon", L"Install", L"Cancel", L"SoftLatest", L"DownloadFail", L"VerifyFail"};
    for (int code = 1; code <= 34; ++code) keys.push_back(L"StatusCode" + std::to_wstring(code));

    struct Case { DWORD language; const wchar_t* cancel; };
    const Case cases[] = {{1033, L"Cancel"}, {1031, L"Abbrechen"}, {1036, L"Annuler"},
                          {2052, L"\x53d6\x6d88"}, {1049, L"Cancel"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.language);
        Put(HKEY_CURRENT_USER, Dword(c.language));
        const TextProvider texts;  // one run of the updater
        EXPECT_EQ(texts.GetText(L"Cancel"), c.cancel);
        for (const std::wstring& key : keys) EXPECT_FALSE(texts.GetText(key.c_str()).empty()) << Narrow(key);
        EXPECT_NE(texts.GetText(L"StatusCode5"), texts.GetText(L"StatusCode6"));
        EXPECT_EQ(texts.GetText(L"NoSuchKey"), L"");
        EXPECT_EQ(texts.GetText(std::wstring(10000, L'K').c_str()), L"");
    }
    EXPECT_FALSE(Loaded(BesideTests(L"R7Glossa_WRZ.dll")));
}

// One provider serves one run: the first lookup resolves the language and
// loads the library, and every later lookup reuses both. The probe counts
// the Glossa_Param calls of the copy that stays loaded, so a count that grows
// shows one copy serving every lookup, with the language handed over each time.
TEST_F(LanguageTest, OneProviderResolvesTheLanguageOnceAndKeepsTheLibrary)
{
    const std::wstring probe = Library(L"glossa_probe.dll");
    Put(HKEY_CURRENT_USER, Dword(1036));
    {
        const TextProvider texts(probe);
        EXPECT_FALSE(Loaded(probe)) << "nothing is loaded before the first lookup";
        EXPECT_EQ(texts.GetText(nullptr), L"");
        EXPECT_FALSE(Loaded(probe)) << "a null key loads nothing";

        EXPECT_EQ(texts.GetText(L"Quillon"), ProbeText(1036, L"Quillon", 1));
        EXPECT_TRUE(Loaded(probe));
        // The user changes the language halfway through a run; the run keeps
        // the one it started with.
        Put(HKEY_CURRENT_USER, Dword(1031));
        EXPECT_EQ(texts.GetText(L"Cancel"), ProbeText(1036, L"Cancel", 2));
        EXPECT_EQ(texts.GetText(L"SoftLatest"), ProbeText(1036, L"SoftLatest", 3));
    }
    EXPECT_FALSE(Loaded(probe)) << "the library goes with its provider";
    EXPECT_EQ(Get(HKEY_CURRENT_USER).data, Dword(1031).data) << "the user's own change is left alone";

    // The next run sees the new language, in a fresh copy of the library.
    EXPECT_EQ(TextProvider(probe).GetText(L"Quillon"), ProbeText(1031, L"Quillon"));
}

// The stand-in keeps to the capacity it is given, its terminator included.
TEST(LanguageLibraryTest, NeverWritesPastTheCapacity)
{
    const LoadedLibrary library(LoadLibraryW(BesideTests(L"R7Glossa_WRZ.dll").c_str()));
    ASSERT_TRUE(library);
    using Param = int(WINAPI*)(unsigned int*, int);
    using GetText = int(WINAPI*)(const wchar_t*, const wchar_t*, wchar_t*, int);
    const auto param = library.Find<Param>("Glossa_Param");
    const auto getText = library.Find<GetText>("Glossa_MLGetText");
    ASSERT_TRUE(param && getText);
    unsigned int english = 1033;
    param(&english, 1);

    struct Case { int capacity; std::wstring written; };
    const Case cases[] = {{0, L""}, {1, std::wstring(1, L'\0')}, {5, std::wstring(L"Canc\0", 5)},
                          {7, std::wstring(L"Cancel\0", 7)}, {16, std::wstring(L"Cancel\0", 7)}};
    for (const Case& c : cases) {
        wchar_t buffer[16];
        for (wchar_t& unit : buffer) unit = L'#';
        getText(L"COMMON_INFO", L"Cancel", buffer, c.capacity);
        EXPECT_EQ(std::wstring(buffer, c.written.size()), c.written) << c.capacity;
        for (std::size_t i = c.written.size(); i < 16; ++i) EXPECT_EQ(buffer[i], L'#') << c.capacity;
    }
    wchar_t buffer[16] = L"###";
    getText(L"TEXT", L"Cancel", buffer, 16);
    EXPECT_EQ(std::wstring(buffer), L"") << "only the section COMMON_INFO";
}
}  // namespace
