#pragma once

// The last HTTP status a download saw; 0 while none has come (a file: URL, or
// a download that failed before any answer).
constexpr unsigned long kNoHttpStatus = 0;

// 200..299: the server sent the file. Anything else, redirects that were not
// followed included, means the body is not the file asked for.
bool IsSuccessHttpStatus(unsigned long status);

// Whether a download produced the file: the moniker must have succeeded, and
// when an HTTP answer came, its final status must be a success. Some urlmon
// versions hand an error page over as a successful download, so the call's
// own result is not enough.
bool DownloadArrived(long downloadResult, unsigned long finalHttpStatus);
