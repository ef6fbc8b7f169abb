#pragma once

// The word GetSysVersion answers for a version record. Scripts compare these
// words, so the table keeps its historic oddities: every 6.x is "Vista", any
// later major version is "Win7", NT 4 is "98" and the 9x family is "unknown".
const wchar_t* VersionWord(unsigned long platformId, unsigned long major, unsigned long minor);
