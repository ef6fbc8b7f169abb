#pragma once
#include "LoadedLibrary.h"

// Loads the common controls (comctl32, version 6 as the manifest asks) and
// registers the progress bar's window class, which the dialog template
// uses. The library is loaded by name, not by full path: only a load by name
// is redirected to the side-by-side version 6; a full path would give the
// system folder's version 5. Null when the library or its entry is missing:
// the dialog then cannot be created, and the run ends like one whose dialog
// failed.
LoadedLibrary LoadCommonControls();
