#include <gtest/gtest.h>

#include <windows.h>
#include <urlmon.h>

#include "HttpStatus.h"

namespace {
TEST(DownloadArrived, OnlyASuccessfulCallWithA2xxOrNoHttpAnswer)
{
    struct Case {
        long result;
        unsigned long status;
        bool arrived;
    };
    const Case cases[] = {
        {S_OK, 200, true},
        {S_OK, 204, true},
        {S_OK, 299, true},
        {S_OK, kNoHttpStatus, true},  // no HTTP answer at all: a file: URL
        {S_FALSE, 200, true},         // any success code of the moniker
        {S_OK, 199, false},
        {S_OK, 300, false},           // a redirect that was not followed
        {S_OK, 301, false},
        {S_OK, 304, false},
        {S_OK, 404, false},           // the error page that urlmon handed over as the file
        {S_OK, 500, false},
        {S_OK, 503, false},
        {S_OK, 4294967295ul, false},
        {E_ABORT, 200, false},        // cancelled
        {INET_E_DOWNLOAD_FAILURE, kNoHttpStatus, false},
        {INET_E_CANNOT_CONNECT, kNoHttpStatus, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DownloadArrived(c.result, c.status), c.arrived)
            << std::hex << "0x" << c.result << std::dec << " with HTTP " << c.status;
}
}  // namespace
