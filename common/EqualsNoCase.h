#pragma once

// Compares two texts, folding only 'a'..'z' to 'A'..'Z'. No other letter is
// folded and no locale rule applies, so switch and root names compare the same
// on every system.
bool EqualsNoCase(const wchar_t* a, const wchar_t* b);
