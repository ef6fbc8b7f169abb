#pragma once
#include <cstdint>
#include <string>

#include "TextProvider.h"

// The status line of the download in progress. A download repeats one status
// many times over (each block of data received is a report), and a lookup
// in the language library costs a call into a foreign library and a copy of
// its text; the text is therefore looked up again only when the status code
// differs from the one asked for last. Forget() at the start of every
// download, so that each download starts from a fresh lookup.
class StatusTextCache {
public:
    // texts must outlive the cache.
    explicit StatusTextCache(const TextProvider& texts) : texts_(texts) {}

    // The text of "StatusCode<statusCode>", empty when the library has none.
    const std::wstring& TextFor(std::uint32_t statusCode);
    void Forget();

private:
    const TextProvider& texts_;
    bool known_ = false;
    std::uint32_t statusCode_ = 0;
    std::wstring text_;
};
