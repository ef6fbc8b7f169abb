#pragma once

// True when this 32-bit process runs on 64-bit Windows. IsWow64Process is
// looked up at each call: it does not exist on the oldest systems, and its
// absence means a 32-bit system. A 64-bit process is never under WOW64: it
// gets false.
bool IsWow64();

// True on 64-bit Windows, whatever kind of process asks: always in a 64-bit
// process, which runs nowhere else, and IsWow64 in a 32-bit one.
bool Is64BitWindows();
