#pragma once
#include <windows.h>

#include <string>
#include <utility>

// Owns one loaded module; frees it on every path out.
class LoadedLibrary {
public:
    LoadedLibrary() = default;
    explicit LoadedLibrary(HMODULE module) : module_(module) {}
    LoadedLibrary(LoadedLibrary&& other) noexcept : module_(std::exchange(other.module_, nullptr)) {}
    LoadedLibrary& operator=(LoadedLibrary&& other) noexcept { reset(std::exchange(other.module_, nullptr)); return *this; }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;
    ~LoadedLibrary() { reset(); }

    HMODULE get() const { return module_; }
    explicit operator bool() const { return module_ != nullptr; }
    void reset(HMODULE module = nullptr) {
        if (module_) FreeLibrary(module_);
        module_ = module;
    }

    // Looks an export up and casts it to the caller's function type.
    template <typename Function>
    Function Find(const char* name) const;

private:
    HMODULE module_ = nullptr;
};

// Looks an export of a module up and casts it to the caller's function type;
// null when the module is null or lacks the export. For modules this process
// has loaded already (GetModuleHandleW), which need no owner.
template <typename Function>
Function FindExport(HMODULE module, const char* name)
{
    return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

template <typename Function>
Function LoadedLibrary::Find(const char* name) const
{
    return FindExport<Function>(module_, name);
}

// The full path of a Windows system library of this process's own kind: in
// SysWOW64 for a 32-bit process on 64-bit Windows, in System32 otherwise, so
// that the path holds whether or not file-system redirection is turned off.
// Empty when it would not fit MAX_PATH.
std::wstring SystemLibraryPath(const wchar_t* fileName);

// Loads a Windows system library by that full path, so that a DLL of the same
// name planted beside the host program or in the current directory is never
// picked up instead.
LoadedLibrary LoadSystemLibrary(const wchar_t* fileName);
