#include "HttpStatus.h"

#include <string>

#include "EqualsNoCase.h"

namespace {
bool IsSpace(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

std::wstring Trimmed(const wchar_t* begin, const wchar_t* end)
{
    while (begin < end && IsSpace(*begin)) ++begin;
    while (end > begin && IsSpace(end[-1])) --end;
    return std::wstring(begin, end);
}

// A decimal number that fits 64 bits, nothing else; false otherwise.
bool ParseLength(const std::wstring& text, std::uint64_t& length)
{
    if (text.empty()) return false;
    std::uint64_t value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
        const unsigned digit = static_cast<unsigned>(c - L'0');
        if (value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    length = value;
    return true;
}
}  // namespace

HttpAnswer ReadHttpAnswer(unsigned long status, const wchar_t* rawHeaders)
{
    HttpAnswer answer;
    answer.status = status;
    if (!rawHeaders) return answer;
    bool transferEncoded = false;
    bool lengthSeen = false;
    for (const wchar_t* line = rawHeaders; *line;) {
        const wchar_t* end = line;
        while (*end && *end != L'\r' && *end != L'\n') ++end;
        const wchar_t* colon = line;
        while (colon < end && *colon != L':') ++colon;
        if (colon < end) {  // the status line has no colon and is passed over
            const std::wstring name = Trimmed(line, colon);
            const std::wstring value = Trimmed(colon + 1, end);
            std::uint64_t length = 0;
            if (EqualsNoCase(name.c_str(), L"Content-Length") && ParseLength(value, length)) {
                if (!lengthSeen || length > answer.announcedLength) answer.announcedLength = length;
                lengthSeen = true;
            } else if (EqualsNoCase(name.c_str(), L"Content-Encoding")) {
                if (!value.empty() && !EqualsNoCase(value.c_str(), L"identity")) answer.contentEncoded = true;
            } else if (EqualsNoCase(name.c_str(), L"Transfer-Encoding") && !value.empty()) {
                transferEncoded = true;
            }
        }
        line = end;
        while (*line == L'\r' || *line == L'\n') ++line;
    }
    answer.lengthAnnounced = lengthSeen && !transferEncoded;
    if (!answer.lengthAnnounced) answer.announcedLength = 0;
    return answer;
}

bool IsFileHttpStatus(unsigned long status)
{
    return status == 200 || status == 203;
}

bool IsRedirectHttpStatus(unsigned long status)
{
    return status >= 300 && status <= 399;
}

bool ContinueAfterHttpStatus(unsigned long status)
{
    return IsFileHttpStatus(status) || IsRedirectHttpStatus(status);
}

bool DownloadArrived(long downloadResult, const HttpAnswer& answer, std::int64_t fileSize)
{
    if (downloadResult < 0 || fileSize == kNoFile) return false;
    if (answer.status == kNoHttpStatus) return true;  // not HTTP: the moniker's word stands
    if (!IsFileHttpStatus(answer.status)) return false;
    return !answer.lengthAnnounced || answer.contentEncoded ||
           static_cast<std::uint64_t>(fileSize) >= answer.announcedLength;
}
