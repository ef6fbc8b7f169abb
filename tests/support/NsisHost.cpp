#include "NsisHost.h"

#include <algorithm>

namespace {
// The host whose call is running: registration reaches the host through a
// plain function, as in NSIS.
NsisHost* g_calling = nullptr;
}

NsisHost::NsisHost(int stringSize) : stringSize_(stringSize), variables_(static_cast<std::size_t>(stringSize) * 25)
{
    execFlags_.pluginApiVersion = kPluginApi1_0;
}

void NsisHost::CallWithExtra(Export function)
{
    struct Registrar {
        static int __stdcall Register(HMODULE module, PluginCallback callback)
        {
            NsisHost& host = *g_calling;
            ++host.registrationRequests_;
            for (const Registration& r : host.registrations_)
                if (r.callback == callback) return 1;
            host.registrations_.push_back({module, callback});
            return 0;
        }
    };
    ExtraParameters extra = {&execFlags_, nullptr, nullptr, &Registrar::Register};
    g_calling = this;
    function(nullptr, stringSize_, variables_.data(), &top_, &extra);
    g_calling = nullptr;
}

void NsisHost::Notify(int message)
{
    for (const Registration& r : registrations_) r.callback(message);
    if (message == kUnload) registrations_.clear();
}

NsisHost::~NsisHost()
{
    while (top_) {
        Node* next = top_->next;
        GlobalFree(top_);
        top_ = next;
    }
}

void NsisHost::Push(const std::wstring& text)
{
    PushNode(text.substr(0, stringSize_ - 1), stringSize_);
}

void NsisHost::PushUnbounded(const std::wstring& text)
{
    PushNode(text, text.size() + 1);
}

void NsisHost::PushNode(const std::wstring& text, std::size_t units)
{
    auto* node = static_cast<Node*>(GlobalAlloc(GPTR, sizeof(Node*) + units * sizeof(wchar_t)));
    std::copy(text.begin(), text.end(), node->text);
    node->text[text.size()] = L'\0';
    node->next = top_;
    top_ = node;
    allocated_.push_back(node);
}

std::vector<std::wstring> NsisHost::Stack() const
{
    std::vector<std::wstring> texts;
    for (Node* node = top_; node; node = node->next) texts.emplace_back(node->text);
    return texts;
}

std::vector<NsisHost::Node*> NsisHost::Leaked() const
{
    // Fixed GlobalAlloc blocks live on the process heap: a node that is still
    // a busy heap entry has not been freed.
    std::vector<void*> busy;
    HANDLE heap = GetProcessHeap();
    HeapLock(heap);
    PROCESS_HEAP_ENTRY entry = {};
    while (HeapWalk(heap, &entry))
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) busy.push_back(entry.lpData);
    HeapUnlock(heap);

    std::vector<Node*> leaked;
    for (Node* node : allocated_) {
        bool onStack = false;
        for (Node* n = top_; n; n = n->next) onStack = onStack || n == node;
        if (!onStack && std::find(busy.begin(), busy.end(), node) != busy.end()) leaked.push_back(node);
    }
    return leaked;
}

std::wstring NsisHost::Variable(int slot) const
{
    return std::wstring(variables_.data() + static_cast<std::size_t>(slot) * stringSize_);
}

void NsisHost::SetVariable(int slot, const std::wstring& text)
{
    std::copy(text.begin(), text.end(), variables_.begin() + static_cast<std::size_t>(slot) * stringSize_);
    variables_[static_cast<std::size_t>(slot) * stringSize_ + text.size()] = L'\0';
}
