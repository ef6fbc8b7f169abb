#include "StayLoaded.h"

// The image this code is linked into: the plug-in DLL (or a test program that
// links the same objects). Taken from the linker, not from
// GetModuleHandleEx, which would add a reference that keeps the DLL loaded
// after NSIS has freed it, and with it the file in $PLUGINSDIR.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {
bool g_registered = false;
}

bool HostKeepsPluginsLoaded(const NsisExtraParameters* extra)
{
    return extra && extra->execFlags && extra->execFlags->pluginApiVersion >= kNsisPluginApi1_0 &&
           extra->registerPluginCallback;
}

void StayLoaded(const NsisExtraParameters* extra)
{
    if (g_registered || !HostKeepsPluginsLoaded(extra)) return;
    const int answer = extra->registerPluginCallback(reinterpret_cast<HMODULE>(&__ImageBase), OnNsisPluginMessage);
    // "Already registered" is as good as registered; an error is tried again
    // on the next call, which is then served loaded and freed as before.
    g_registered = answer >= 0;
}

UINT_PTR __cdecl OnNsisPluginMessage(int message)
{
    // Every handle, key and library of a call is released before the call
    // returns; the registration is all there is to let go of.
    if (message == kNsisUnload) g_registered = false;
    return 0;
}
