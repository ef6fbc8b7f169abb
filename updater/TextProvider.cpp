#include "TextProvider.h"

#include <windows.h>

#include <utility>

#include "LanguageSetting.h"
#include "LoadedLibrary.h"

namespace {
constexpr const wchar_t* kLanguageLibrary = L"R7Glossa_WRZ.dll";
constexpr const wchar_t* kTextSection = L"COMMON_INFO";
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

void TextProvider::Bind() const
{
    if (bound_) return;
    bound_ = true;
    languageId_ = ResolveLanguageId();

    // By full path only: a library of the same name in the current directory
    // or on the search path must never be loaded into the updater.
    if (libraryPath.empty()) return;
    library_.reset(LoadLibraryW(libraryPath.c_str()));
    param_ = library_.Find<GlossaParamFunction>("Glossa_Param");
    getText_ = library_.Find<GlossaMLGetTextFunction>("Glossa_MLGetText");
}

std::wstring TextProvider::GetText(const wchar_t* key) const
{
    if (!key) return std::wstring();
    Bind();

    // The library is handed a copy: what it may write there is not read back.
    unsigned int languageId = languageId_;
    if (param_) param_(&languageId, 1);
    // The library is told one unit less than the buffer holds, so the text
    // ends in a terminator even if the library fills its whole share.
    wchar_t buffer[kTextCapacity + 1] = {};
    if (getText_) getText_(kTextSection, key, buffer, kTextCapacity);
    buffer[kTextCapacity] = L'\0';
    return std::wstring(buffer);
}
