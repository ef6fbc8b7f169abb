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
    Function Find(const char* name) const {
        return module_ ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module_, name))) : nullptr;
    }

private:
    HMODULE module_ = nullptr;
};

// Loads a Windows system library by its full path in the system directory, so
// that a DLL of the same name planted beside the host program or in the
// current directory is never picked up instead.
LoadedLibrary LoadSystemLibrary(const wchar_t* fileName);
