#pragma once

// True when this 32-bit process runs on 64-bit Windows. IsWow64Process is
// looked up at each call: it does not exist on the oldest systems, and its
// absence means a 32-bit system.
bool IsWow64();
