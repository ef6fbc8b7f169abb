#pragma once
#include <windows.h>
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

// Loads a Windows system library by its full path in the system directory, so
// that a DLL of the same name planted beside the host program or in the
// current directory is never picked up instead.
LoadedLibrary LoadSystemLibrary(const wchar_t* fileName);
