#pragma once
#include <windows.h>
#include <utility>

// Owns one registry key; closes it on every path out.
class RegistryKey {
public:
    RegistryKey() = default;
    explicit RegistryKey(HKEY key) : key_(key) {}
    RegistryKey(RegistryKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
    RegistryKey& operator=(RegistryKey&& other) noexcept { reset(std::exchange(other.key_, nullptr)); return *this; }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey() { reset(); }

    HKEY get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }
    HKEY* put() { reset(); return &key_; }
    void reset(HKEY key = nullptr) {
        if (key_) RegCloseKey(key_);
        key_ = key;
    }

private:
    HKEY key_ = nullptr;
};
