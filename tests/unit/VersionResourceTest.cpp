#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "TestPaths.h"

namespace {
// The version information of a built deliverable as Windows hands it to
// Explorer's Details page: through GetFileVersionInfoW and VerQueryValueW.
class VersionInformation {
public:
    explicit VersionInformation(const std::wstring& path)
    {
        const DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
        if (size == 0) return;
        data_.resize(size);
        if (!GetFileVersionInfoW(path.c_str(), 0, size, data_.data())) data_.clear();
    }
    bool Present() const { return !data_.empty(); }
    const VS_FIXEDFILEINFO* Fixed() const
    {
        UINT bytes = 0;
        const void* fixed = Query(L"\\", &bytes);
        return bytes >= sizeof(VS_FIXEDFILEINFO) ? static_cast<const VS_FIXEDFILEINFO*>(fixed) : nullptr;
    }
    // A value of the English (United States), Unicode string table.
    std::wstring Text(const wchar_t* name) const
    {
        const std::wstring path = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
        UINT characters = 0;
        const void* text = Query(path.c_str(), &characters);
        return characters > 0 ? static_cast<const wchar_t*>(text) : L"<missing>";
    }
    DWORD Translation() const
    {
        UINT bytes = 0;
        const void* pair = Query(L"\\VarFileInfo\\Translation", &bytes);
        if (bytes < sizeof(DWORD)) return 0;
        WORD language, codePage;
        CopyMemory(&language, pair, sizeof(WORD));
        CopyMemory(&codePage, static_cast<const BYTE*>(pair) + sizeof(WORD), sizeof(WORD));
        return MAKELONG(codePage, language);
    }

private:
    // length: bytes for the fixed part and binary values, characters for texts;
    // 0 when the value is missing.
    const void* Query(const wchar_t* path, UINT* length) const
    {
        void* value = nullptr;
        *length = 0;
        if (data_.empty() || !VerQueryValueW(data_.data(), path, &value, length)) *length = 0;
        return value;
    }
    std::vector<BYTE> data_;
};

// The numbers of a version line, "1.2.3" -> {1, 2, 3}.
std::vector<unsigned long> VersionNumbers(const std::string& line)
{
    std::vector<unsigned long> numbers;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = line.find('.', start);
        numbers.push_back(std::stoul(line.substr(start, dot == std::string::npos ? dot : dot - start)));
        if (dot == std::string::npos) return numbers;
        start = dot + 1;
    }
}

struct Deliverable {
    const wchar_t* fileName;
    const wchar_t* productName;
    DWORD fileType;
    bool built64;  // also built for 64-bit Windows, beside the 64-bit tests
};

// Both deliverables carry the version of the VERSION file, in numbers and
// in text, and say which file they are; the 64-bit Plugin.dll too. The
// build passes the file's line as it stands (VERSION_FILE_TEXT).
TEST(VersionResource, BothDeliverablesCarryTheProjectVersion)
{
    const std::string line = VERSION_FILE_TEXT;
    const std::vector<unsigned long> numbers = VersionNumbers(line);
    ASSERT_EQ(numbers.size(), 3u) << "major.minor.patch: " << line;
    for (const unsigned long number : numbers) ASSERT_LE(number, 0xFFFFu) << line;
    const DWORD expectedMs = (numbers[0] << 16) | numbers[1];
    const DWORD expectedLs = numbers[2] << 16;
    const std::wstring expectedText(line.begin(), line.end());
    const Deliverable deliverables[] = {
        {L"Quillon.exe", L"Quillon", VFT_APP, false},
        {L"Plugin.dll", L"Plugin", VFT_DLL, true},
    };
    for (const Deliverable& deliverable : deliverables) {
        if (sizeof(void*) == 8 && !deliverable.built64) continue;
        SCOPED_TRACE(testing::Message() << "file " << deliverable.fileName);
        const VersionInformation version(BesideTests(deliverable.fileName));
        ASSERT_TRUE(version.Present()) << "no version information";
        const VS_FIXEDFILEINFO* fixed = version.Fixed();
        ASSERT_NE(fixed, nullptr);
        EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
        EXPECT_EQ(fixed->dwFileVersionMS, expectedMs);
        EXPECT_EQ(fixed->dwFileVersionLS, expectedLs);
        EXPECT_EQ(fixed->dwProductVersionMS, expectedMs);
        EXPECT_EQ(fixed->dwProductVersionLS, expectedLs);
        EXPECT_EQ(fixed->dwFileType, deliverable.fileType);
        EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u) << "no debug or pre-release flag";
        EXPECT_EQ(version.Translation(), MAKELONG(1200, 0x0409));
        EXPECT_EQ(version.Text(L"FileVersion"), expectedText);
        EXPECT_EQ(version.Text(L"ProductVersion"), expectedText);
        EXPECT_EQ(version.Text(L"ProductName"), deliverable.productName);
        EXPECT_EQ(version.Text(L"OriginalFilename"), deliverable.fileName);
        EXPECT_EQ(version.Text(L"CompanyName"), L"Orvanta");
        EXPECT_NE(version.Text(L"FileDescription"), L"<missing>");
    }
}
}  // namespace
