// Test libraries in place of the language library. Each tells back, in the
// text it writes, what the updater passed it, so the tests see the calls
// themselves. Built in variants: without Glossa_Param (GLOSSA_WITHOUT_PARAM),
// without Glossa_MLGetText (GLOSSA_WITHOUT_TEXT), and one that writes nothing
// (GLOSSA_SILENT).
#include <windows.h>

#include <cwchar>

namespace {
unsigned parameterLanguage = 0;
int parameterSecond = 0;
int parameterCalls = 0;
}

#ifndef GLOSSA_WITHOUT_PARAM
extern "C" __declspec(dllexport) int WINAPI Glossa_Param(unsigned int* languageId, int second)
{
    parameterLanguage = languageId ? *languageId : 0;
    parameterSecond = second;
    ++parameterCalls;
    return 1;
}
#endif

#ifndef GLOSSA_WITHOUT_TEXT
extern "C" __declspec(dllexport) int WINAPI Glossa_MLGetText(const wchar_t* section, const wchar_t* key,
                                                             wchar_t* buffer, int capacity)
{
#ifdef GLOSSA_SILENT
    (void)section, (void)key, (void)buffer, (void)capacity;
    return 0;
#else
    if (lstrcmpW(key, L"FillWholeCapacity") == 0) {
        // Every unit it was offered, and no terminator among them.
        for (int i = 0; i < capacity; ++i) buffer[i] = L'x';
        return capacity;
    }
    std::swprintf(buffer, capacity, L"calls=%d language=%u second=%d section=%ls key=%ls capacity=%d", parameterCalls,
                  parameterLanguage, parameterSecond, section, key, capacity);
    return lstrlenW(buffer);
#endif
}
#endif
