#include <gtest/gtest.h>

#include <windows.h>
#include <urlmon.h>

#include "HttpStatus.h"

namespace {
HttpAnswer Answer(unsigned long status, std::uint64_t length = 0, bool announced = false, bool encoded = false)
{
    HttpAnswer answer;
    answer.status = status;
    answer.lengthAnnounced = announced;
    answer.announcedLength = length;
    answer.contentEncoded = encoded;
    return answer;
}

HttpAnswer Announced(unsigned long status, std::uint64_t length, bool encoded = false)
{
    return Answer(status, length, true, encoded);
}

TEST(DownloadArrived, OnlyTheWholeFileOfA200Or203)
{
    struct Case {
        const char* name;
        long result;
        HttpAnswer answer;
        std::int64_t fileSize;
        bool arrived;
    };
    const Case cases[] = {
        {"200", S_OK, Answer(200), 10, true},
        {"203, from a transforming proxy", S_OK, Answer(203), 10, true},
        {"no HTTP answer at all: a file: URL", S_OK, Answer(kNoHttpStatus), 10, true},
        {"any success code of the moniker", S_FALSE, Answer(200), 10, true},
        {"an empty file of a 200", S_OK, Answer(200), 0, true},
        {"no file written", S_OK, Answer(200), kNoFile, false},
        {"204: no body", S_OK, Answer(204), 0, false},
        {"205: no body", S_OK, Answer(205), 0, false},
        {"206: a part of the body", S_OK, Announced(206, 5), 5, false},
        {"any other 2xx", S_OK, Answer(299), 10, false},
        {"201", S_OK, Answer(201), 10, false},
        {"1xx", S_OK, Answer(199), 10, false},
        {"a redirect that was not followed", S_OK, Answer(302), 10, false},
        {"300", S_OK, Answer(300), 10, false},
        {"304 as the final answer", S_OK, Answer(304), 10, false},
        {"the error page that urlmon handed over as the file", S_OK, Answer(404), 10, false},
        {"500", S_OK, Answer(500), 10, false},
        {"status that fits no range", S_OK, Answer(4294967295ul), 10, false},
        {"cancelled", E_ABORT, Answer(200), 10, false},
        {"download failure", INET_E_DOWNLOAD_FAILURE, Answer(kNoHttpStatus), kNoFile, false},
        {"cannot connect", INET_E_CANNOT_CONNECT, Answer(kNoHttpStatus), kNoFile, false},
        // The length the server announced for an unencoded body.
        {"exactly the announced length", S_OK, Announced(200, 1000), 1000, true},
        {"one byte short of it", S_OK, Announced(200, 1000), 999, false},
        {"nothing of it", S_OK, Announced(200, 1000), 0, false},
        {"a 203 short of it", S_OK, Announced(203, 1000), 10, false},
        {"more than announced", S_OK, Announced(200, 1000), 1001, true},
        {"a length past 32 bits", S_OK, Announced(200, 0x100000000ull), 0xFFFFFFFF, false},
        // An encoded body's length counts the encoded bytes.
        {"gzip body shorter than the file", S_OK, Announced(200, 100, true), 1000, true},
        {"gzip body longer than the file", S_OK, Announced(200, 1000, true), 100, true},
        {"no length announced", S_OK, Answer(200), 1, true},
    };
    for (const Case& c : cases) EXPECT_EQ(DownloadArrived(c.result, c.answer, c.fileSize), c.arrived) << c.name;
}

TEST(ContinueAfterHttpStatus, TheFileAndRedirectsGoOn)
{
    struct Case { unsigned long status; bool goOn; };
    const Case cases[] = {{200, true}, {203, true}, {301, true}, {302, true}, {303, true}, {307, true}, {308, true},
                          {300, true}, {399, true}, {204, false}, {206, false}, {201, false}, {100, false},
                          {404, false}, {500, false}, {0, false}};
    for (const Case& c : cases) EXPECT_EQ(ContinueAfterHttpStatus(c.status), c.goOn) << c.status;
}

TEST(ReadHttpAnswer, LengthAndEncodingFromTheRawHeaders)
{
    struct Case {
        const char* name;
        const wchar_t* headers;
        bool announced;
        std::uint64_t length;
        bool encoded;
    };
    const Case cases[] = {
        {"as urlmon hands them over",
         L"HTTP/1.1 200 OK\r\nServer: nginx\r\nContent-Type: application/octet-stream\r\nContent-Length: 38\r\n\r\n",
         true, 38, false},
        {"names in any case, blanks around the value", L"HTTP/1.1 200 OK\r\ncontent-LENGTH:\t 1234 \r\n", true, 1234,
         false},
        {"no length", L"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n", false, 0, false},
        {"a length beside chunked transfer counts for nothing",
         L"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 99\r\n", false, 0, false},
        {"not a number", L"HTTP/1.1 200 OK\r\nContent-Length: 12a\r\n", false, 0, false},
        {"a sign is no digit", L"HTTP/1.1 200 OK\r\nContent-Length: -1\r\n", false, 0, false},
        {"empty", L"HTTP/1.1 200 OK\r\nContent-Length:\r\n", false, 0, false},
        {"past 64 bits", L"HTTP/1.1 200 OK\r\nContent-Length: 18446744073709551616\r\n", false, 0, false},
        {"the largest 64-bit number", L"HTTP/1.1 200 OK\r\nContent-Length: 18446744073709551615\r\n", true,
         18446744073709551615ull, false},
        {"two lengths: the larger", L"HTTP/1.1 200 OK\r\nContent-Length: 10\r\nContent-Length: 700\r\n", true, 700,
         false},
        {"gzip", L"HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 50\r\n", true, 50, true},
        {"identity is no encoding", L"HTTP/1.1 200 OK\r\nContent-Encoding: Identity\r\nContent-Length: 50\r\n", true,
         50, false},
        {"bare line feeds", L"HTTP/1.1 200 OK\nContent-Length: 7\n", true, 7, false},
        {"a header whose name only begins alike", L"HTTP/1.1 200 OK\r\nContent-Lengthy: 7\r\n", false, 0, false},
        {"no headers", L"", false, 0, false},
        {"null", nullptr, false, 0, false},
    };
    for (const Case& c : cases) {
        const HttpAnswer answer = ReadHttpAnswer(200, c.headers);
        EXPECT_EQ(answer.status, 200u) << c.name;
        EXPECT_EQ(answer.lengthAnnounced, c.announced) << c.name;
        EXPECT_EQ(answer.announcedLength, c.length) << c.name;
        EXPECT_EQ(answer.contentEncoded, c.encoded) << c.name;
    }
}
}  // namespace
