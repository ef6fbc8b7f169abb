#pragma once
#include <windows.h>

#include <string>
#include <vector>

// Stands in for an NSIS installer: a stack of GlobalAlloc'd nodes and a
// variables array of a chosen slot size, handed to plug-in exports the way
// NSIS hands them.
class NsisHost {
public:
    struct Node {
        Node* next;
        wchar_t text[1];
    };
    using Export = void(__cdecl*)(HWND, int, wchar_t*, Node**);

    explicit NsisHost(int stringSize = 1024);
    ~NsisHost();
    NsisHost(const NsisHost&) = delete;
    NsisHost& operator=(const NsisHost&) = delete;

    int StringSize() const { return stringSize_; }
    Node** StackTop() { return &top_; }
    wchar_t* Variables() { return variables_.data(); }

    // Pushes like NSIS: a node of string_size units, the text cut to fit.
    void Push(const std::wstring& text);
    // Pushes a node sized for text whatever string_size says, as a host with a
    // larger string size than the plug-in was told about would.
    void PushUnbounded(const std::wstring& text);
    // Texts on the stack, top first.
    std::vector<std::wstring> Stack() const;
    // Nodes this host allocated that are neither on the stack nor freed.
    std::vector<Node*> Leaked() const;

    void Call(Export function) { function(nullptr, stringSize_, variables_.data(), &top_); }

    std::wstring Variable(int slot) const;  // 0..9 = $0..$9, 10..19 = $R0..$R9
    void SetVariable(int slot, const std::wstring& text);
    std::wstring R0() const { return Variable(10); }

private:
    void PushNode(const std::wstring& text, std::size_t units);

    int stringSize_;
    std::vector<wchar_t> variables_;
    Node* top_ = nullptr;
    std::vector<Node*> allocated_;
};
