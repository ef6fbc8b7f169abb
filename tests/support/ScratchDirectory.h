#pragma once
#include <string>

// A fresh directory under the temporary-files directory, removed with all it
// holds at the end of the scope.
class ScratchDirectory {
public:
    explicit ScratchDirectory(const wchar_t* prefix = L"test-");
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::wstring& Path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// Removes a file or a directory tree; true when it is gone.
bool RemoveTree(const std::wstring& path);
