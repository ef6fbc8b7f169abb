#pragma once
#include <string>

// Looks the updater's texts up by key in the product's language library,
// in the language that LangId names. Nothing is kept between lookups: each
// one resolves the language and loads and frees the library afresh.
class TextProvider {
public:
    // The product's library, "R7Glossa_WRZ.dll" beside the updater's own
    // executable.
    TextProvider();
    // A library at the given full path.
    explicit TextProvider(std::wstring libraryPath);

    // The text for key in the section "COMMON_INFO"; empty when the library,
    // its text export or the text is missing, or when the key is null.
    std::wstring GetText(const wchar_t* key) const;

    const std::wstring& LibraryPath() const { return libraryPath; }

private:
    std::wstring libraryPath;
};

// Characters the library may write for one text, its terminator included.
constexpr int kTextCapacity = 256;

// Full path of a file in the directory of the running program's executable;
// empty when that path does not fit the platform's path limit.
std::wstring BesideProgram(const wchar_t* fileName);
