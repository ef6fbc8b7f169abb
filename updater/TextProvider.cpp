#include "TextProvider.h"

#include <windows.h>

#include <utility>

#include "LanguageSetting.h"
#include "LoadedLibrary.h"

namespace {
constexpr const wchar_t* kLanguageLibrary = L"R7Glossa_WRZ.dll";
constexpr const wchar_t* kTextSection = L"COMMON_INFO";

// The library's two exports. They use the platform's standard calling
// convention, as exported functions of Windows libraries do.
using GlossaParamFunction = int(WINAPI*)(unsigned int* languageId, int one);
using GlossaMLGetTextFunction = int(WINAPI*)(const wchar_t* section, const wchar_t* key, wchar_t* buffer,
                                             int capacity);
}  // namespace

std::wstring BesideProgram(const wchar_t* fileName)
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    // A truncated module path would name some other directory.
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    std::wstring directory(path, length);
    directory.erase(directory.find_last_of(L"\\/") + 1);
    return directory + fileName;
}

TextProvider::TextProvider() : libraryPath(BesideProgram(kLanguageLibrary)) {}

TextProvider::TextProvider(std::wstring libraryPath) : libraryPath(std::move(libraryPath)) {}

std::wstring TextProvider::GetText(const wchar_t* key) const
{
    if (!key) return std::wstring();
    unsigned int languageId = ResolveLanguageId();

    // By full path only: a library of the same name in the current directory
    // or on the search path must never be loaded into the updater.
    if (libraryPath.empty()) return std::wstring();
    const LoadedLibrary library(LoadLibraryW(libraryPath.c_str()));
    const auto param = library.Find<GlossaParamFunction>("Glossa_Param");
    const auto getText = library.Find<GlossaMLGetTextFunction>("Glossa_MLGetText");

    if (param) param(&languageId, 1);
    // The library is told one unit less than the buffer holds, so the text
    // ends in a terminator even if the library fills its whole share.
    wchar_t buffer[kTextCapacity + 1] = {};
    if (getText) getText(kTextSection, key, buffer, kTextCapacity);
    buffer[kTextCapacity] = L'\0';
    return std::wstring(buffer);
}
