#include "RegistryStackArguments.h"

#include "Wow64.h"

namespace {
class NsisStackArguments final : public RegistryArgumentSource {
public:
    PopResult Pop(wchar_t* buffer, std::size_t capacity) override { return PopString(buffer, capacity); }
    void Trace(const wchar_t* text) override { DebugLog(text); }
    bool RunsOn64BitWindows() override { return Is64BitWindows(); }
};
}  // namespace

bool ReadRegistryArgumentsFromStack(RegistryExport kind, RegistryRequest& request)
{
    NsisStackArguments stack;
    switch (ReadRegistryArguments(kind, stack, request)) {
    case RegistryArguments::Complete:
        return true;
    case RegistryArguments::ParameterError:
        SetResult(L"0");
        return false;
    case RegistryArguments::UnknownRoot:
        break;
    }
    return false;
}
