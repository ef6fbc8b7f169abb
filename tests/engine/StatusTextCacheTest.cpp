// The status line cache against the probe library, which writes back in each
// text how often Glossa_Param has been called while it stayed loaded. The test
// keeps the library loaded, so the count in a text tells how many lookups
// reached the library.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "LoadedLibrary.h"
#include "StatusTextCache.h"
#include "TestPaths.h"
#include "TextProvider.h"

namespace {
// The number after "calls=" in a probe text, -1 when there is none.
int LookupsSoFar(const std::wstring& text)
{
    const std::size_t at = text.find(L"calls=");
    return at == std::wstring::npos ? -1 : std::stoi(text.substr(at + 6));
}

std::wstring KeyOf(const std::wstring& text)
{
    const std::size_t at = text.find(L"key=");
    return at == std::wstring::npos ? std::wstring() : text.substr(at + 4, text.find(L' ', at) - at - 4);
}

TEST(StatusTextCache, LooksUpOnlyWhenTheStatusChangesOrAfterForget)
{
    const std::wstring probe = BesideTests(L"glossa_probe.dll");
    const LoadedLibrary held(LoadLibraryW(probe.c_str()));
    ASSERT_TRUE(held) << "glossa_probe.dll beside the tests";
    const TextProvider texts(probe);
    StatusTextCache cache(texts);

    struct Step { const char* what; std::uint32_t code; bool forgetFirst; int lookups; const wchar_t* key; };
    const Step steps[] = {
        {"first report", 1, false, 1, L"StatusCode1"},
        {"same status again", 1, false, 1, L"StatusCode1"},
        {"the data start", 5, false, 2, L"StatusCode5"},
        {"many data reports", 5, false, 2, L"StatusCode5"},
        {"a status seen before, but not last", 1, false, 3, L"StatusCode1"},
        {"the catch-all", 34, false, 4, L"StatusCode34"},
        {"the next download starts", 34, true, 5, L"StatusCode34"},
        {"and repeats it", 34, false, 5, L"StatusCode34"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        if (step.forgetFirst) cache.Forget();
        const std::wstring text = cache.TextFor(step.code);
        EXPECT_EQ(KeyOf(text), step.key);
        EXPECT_EQ(LookupsSoFar(text), step.lookups);
    }
}

TEST(StatusTextCache, AMissingTextOrLibraryGivesTheEmptyText)
{
    const std::wstring silent = BesideTests(L"glossa_silent.dll");
    const TextProvider texts(silent);
    StatusTextCache cache(texts);
    EXPECT_EQ(cache.TextFor(5), L"");
    EXPECT_EQ(cache.TextFor(5), L"");
    // A missing library gives the empty text as well.
    const TextProvider none(BesideTests(L"no-such-library.dll"));
    StatusTextCache missing(none);
    EXPECT_EQ(missing.TextFor(2), L"");
}
}  // namespace
