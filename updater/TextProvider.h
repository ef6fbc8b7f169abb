#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "LoadedLibrary.h"

// Looks the updater's texts up by key in the product's language library,
// in the language that LangId names. The first lookup resolves the language
// and loads the library; both are kept until the provider goes, so the
// language of one run does not change halfway through it. Under emulated Wine
// a load of the library costs milliseconds, and the dialog asks for a dozen
// texts before the user sees its verdict. One thread only: the dialog's.
class TextProvider {
public:
    // The product's library, "R7Glossa_WRZ.dll" beside the updater's own
    // executable.
    TextProvider();
    // A library at the given full path.
    explicit TextProvider(std::wstring libraryPath);

    // The text for key in the section "COMMON_INFO"; empty when the library,
    // its text export or the text is missing, or when the key is null. A
    // library that cannot be loaded at the first lookup is not tried again.
    std::wstring GetText(const wchar_t* key) const;

    const std::wstring& LibraryPath() const { return libraryPath; }

private:
    // The library's two exports. They use the platform's standard calling
    // convention, as exported functions of Windows libraries do.
    using GlossaParamFunction = int(WINAPI*)(unsigned int* languageId, int one);
    using GlossaMLGetTextFunction = int(WINAPI*)(const wchar_t* section, const wchar_t* key, wchar_t* buffer,
                                                 int capacity);

    // Resolves the language and binds the library, once.
    void Bind() const;

    std::wstring libraryPath;
    // Filled by the first lookup; the lookups are a cache of the run's
    // language and library, which is why a const provider may fill them.
    mutable bool bound_ = false;
    mutable std::uint32_t languageId_ = 0;
    mutable LoadedLibrary library_;
    mutable GlossaParamFunction param_ = nullptr;
    mutable GlossaMLGetTextFunction getText_ = nullptr;
};

// Characters the library may write for one text, its terminator included.
constexpr int kTextCapacity = 256;

// Full path of a file in the directory of the running program's executable;
// empty when that path does not fit the platform's path limit.
std::wstring BesideProgram(const wchar_t* fileName);
