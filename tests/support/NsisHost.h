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
    // The fifth argument of Unicode NSIS, as far as plug-ins may read it.
    struct ExecFlags {
        int autoClose, allUserVar, execError, abort, execReboot, rebootCalled, curInstType;
        int pluginApiVersion;
        int silent, instDirError, rtl, errorLevel, alterRegView, statusUpdate;
    };
    using PluginCallback = UINT_PTR(__cdecl*)(int message);
    struct ExtraParameters {
        ExecFlags* execFlags;
        int(__stdcall* executeCodeSegment)(int, HWND);
        void(__stdcall* validateFileName)(wchar_t*);
        int(__stdcall* registerPluginCallback)(HMODULE, PluginCallback);
    };
    using Export = void(__cdecl*)(HWND, int, wchar_t*, Node**, ExtraParameters*);

    static constexpr int kPluginApi1_0 = 0x00010000;
    static constexpr int kUnload = 0;     // the installer ends
    static constexpr int kGuiUnload = 1;  // the installer's window is gone

    // One plug-in callback as NSIS keeps it: the module and the function.
    struct Registration {
        HMODULE module;
        PluginCallback callback;
    };

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

    // Calls as a host without extra parameters (null in the fifth argument):
    // the plug-in is on its own, as under a host that frees it after the call.
    void Call(Export function) { function(nullptr, stringSize_, variables_.data(), &top_, nullptr); }
    // Calls as Unicode NSIS does, offering to keep the plug-in loaded. The
    // plug-in interface version is the one NSIS 3 announces unless set.
    void CallWithExtra(Export function);
    void SetPluginApiVersion(int version) { execFlags_.pluginApiVersion = version; }
    // Callbacks registered through this host, and how often a plug-in asked.
    const std::vector<Registration>& Registrations() const { return registrations_; }
    int RegistrationRequests() const { return registrationRequests_; }
    // Sends message to every registered callback, as NSIS does at its end
    // (kUnload, after which it forgets them) or when its window is gone.
    void Notify(int message);

    std::wstring Variable(int slot) const;  // 0..9 = $0..$9, 10..19 = $R0..$R9
    void SetVariable(int slot, const std::wstring& text);
    std::wstring R0() const { return Variable(10); }

private:
    void PushNode(const std::wstring& text, std::size_t units);

    int stringSize_;
    std::vector<wchar_t> variables_;
    Node* top_ = nullptr;
    std::vector<Node*> allocated_;
    ExecFlags execFlags_ = {};
    std::vector<Registration> registrations_;
    int registrationRequests_ = 0;
};
