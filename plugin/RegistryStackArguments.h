#pragma once
#include "RegistryArguments.h"

// Reads the arguments of the current call from the NSIS stack, tracing to the
// debugger channel. True when the export should go on; on the parameter error
// "0" is already in $R0.
bool ReadRegistryArgumentsFromStack(RegistryExport kind, RegistryRequest& request);
