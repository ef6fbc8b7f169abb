#include "RegistryArguments.h"

#include "EqualsNoCase.h"

namespace {
struct RootName {
    const wchar_t* name;
    HKEY root;
};

// Compared in this order; spelled-out names are deliberately not accepted.
const RootName kRootNames[] = {
    {L"HKLM", HKEY_LOCAL_MACHINE},
    {L"HKCU", HKEY_CURRENT_USER},
    {L"HKU", HKEY_USERS},
    {L"HKCC", HKEY_CURRENT_CONFIG},
    {L"HKCR", HKEY_CLASSES_ROOT},
};

HKEY FindRoot(const wchar_t* text)
{
    for (const RootName& entry : kRootNames)
        if (EqualsNoCase(text, entry.name)) return entry.root;
    return nullptr;
}

RegistryArguments ParameterError(RegistryArgumentSource& source)
{
    source.Trace(L"IN para error ");
    return RegistryArguments::ParameterError;
}
}  // namespace

RegistryArguments ReadRegistryArguments(RegistryExport kind, RegistryArgumentSource& source,
                                        RegistryRequest& request)
{
    request = RegistryRequest();
    const bool writes = kind == RegistryExport::WriteValue;

    // One buffer for every pop. A dry stack leaves the previous text in it,
    // which is then read again; starting empty makes a stack that is dry
    // from the start an empty argument.
    wchar_t text[kArgumentCapacity] = L"";
    for (;;) {
        const PopResult popped = source.Pop(text, kArgumentCapacity);
        // A cut text would name a different key, value or data: refuse it
        // rather than act on it.
        if (popped == PopResult::TooLong) return ParameterError(source);
        const bool readAgain = popped == PopResult::Empty;
        source.Trace(text);

        bool* flag = nullptr;
        const wchar_t* accepted = nullptr;
        // RunsOn64BitWindows is asked only for "/x64" given to a write export.
        if (EqualsNoCase(text, L"/x64") && (!writes || source.RunsOn64BitWindows())) {
            flag = &request.want64;
            accepted = L"IN /x64";
        } else if (EqualsNoCase(text, L"/x86")) {
            flag = &request.want32;
            accepted = L"IN /x86";
        } else if (kind == RegistryExport::DeleteKey && EqualsNoCase(text, L"/ifempty")) {
            flag = &request.ifEmpty;
            accepted = L"IN /ifempty";
        }
        if (flag) {
            // A switch read again from a dry stack would be read for ever.
            if (readAgain) return ParameterError(source);
            *flag = true;
            source.Trace(accepted);
            continue;
        }

        if (text[0] == L'\0') return ParameterError(source);
        source.Trace(L"IN 1");

        if (!request.root) {
            request.root = FindRoot(text);
            if (!request.root) return RegistryArguments::UnknownRoot;
            continue;
        }

        if (!writes) source.Trace(text);

        if (request.subKey.empty()) {
            source.Trace(L"/SUB ");
            request.subKey = text;
        } else if (kind != RegistryExport::DeleteKey && request.valueName.empty()) {
            if (writes) source.Trace(L"/Key ");
            request.valueName = text;
        } else if (writes && request.data.empty()) {
            source.Trace(L"/Key ");
            request.data = text;
        } else {
            // The end marker: its content is never looked at.
            if (kind == RegistryExport::DeleteKey) source.Trace(L"/over ");
            return RegistryArguments::Complete;
        }
    }
}
