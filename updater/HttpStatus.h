#pragma once
#include <cstdint>

// The last HTTP status a download saw; 0 while none has come (a file: URL, or
// a download that failed before any answer).
constexpr unsigned long kNoHttpStatus = 0;

// What the server's last answer said about the body that follows it.
struct HttpAnswer {
    unsigned long status = kNoHttpStatus;
    // Content-Length, when the answer gave one that can be relied on: a
    // decimal number, and no Transfer-Encoding beside it (which would make
    // the length meaningless).
    bool lengthAnnounced = false;
    std::uint64_t announcedLength = 0;
    // A Content-Encoding other than identity: the announced length counts
    // the encoded bytes, not those of the file.
    bool contentEncoded = false;
};

// Reads an answer from its status and its raw header block ("Name: value"
// lines, CR LF between them, as urlmon hands it over; may be null). Header
// names compare without regard to case. Differing Content-Length headers
// count as the largest of them.
HttpAnswer ReadHttpAnswer(unsigned long status, const wchar_t* rawHeaders);

// 200 and 203: the server sent the whole file. 204 and 205 carry no body, 206
// only a part of one; a 3xx is a redirect. None of them is the file.
bool IsFileHttpStatus(unsigned long status);
bool IsRedirectHttpStatus(unsigned long status);

// What the moniker says to the server's answer as it comes: go on for the
// file and for a redirect, which the moniker is to follow; ask it to stop at
// anything else. Not every urlmon honours the request, so the answer is
// judged again once the download call has returned.
bool ContinueAfterHttpStatus(unsigned long status);

// No file was written.
constexpr std::int64_t kNoFile = -1;

// Whether a download produced the file: the moniker must have succeeded, a
// file must be there, and when an HTTP answer came its final status must be
// 200 or 203 and the file no shorter than a length the server announced for
// a body that is not content-encoded. Some urlmon versions hand an error
// page, or a body cut short by a closed connection, over as a successful
// download, so the call's own result is not enough.
bool DownloadArrived(long downloadResult, const HttpAnswer& answer, std::int64_t fileSize);
