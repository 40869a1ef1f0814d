// Recorded wire texts (curl's requests, python3 http.server's replies) parsed with their bodies:
// whole, cut at every byte, and under random mutations. Only the parsers' codes may come out.
#include "HttpTestStreams.h"
#include "KL_HttpEntity.h"
#include "KL_HttpEntityBodyInputStream.h"
#include "KL_HttpRequest.h"
#include "KL_HttpResponse.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

using namespace http_test;

namespace {

struct Outcome {
    KL_Result head = KL_SUCCESS;
    KL_Result body = KL_ERROR_EOS; // EOS: the body was read to its end
    bool framed = false;           // the head announced a length or the chunked coding
    std::string body_bytes;
    std::string first_line; // method and path, or status and reason
};

// Parses one message from the bytes, then reads the body its head announces; with fail_at_call
// the source's read of that number fails with KL_ERROR_CONNECTION_RESET.
Outcome ParseMessage(const std::string& bytes, bool is_request, KL_Size piece = 0xFFFFFFFF,
                     int fail_at_call = 0, bool* failed = nullptr) {
    Outcome outcome;
    auto* source = new ScriptedInputStream(bytes, KL_ERROR_EOS, piece);
    source->FailAtCall(fail_at_call, KL_ERROR_CONNECTION_RESET);
    KL_InputStreamReference raw(source, true);
    KL_InputStreamReference stream(new KL_BufferedInputStream(raw), true);
    struct Report {
        ScriptedInputStream* source;
        bool* failed;
        ~Report() {
            if (failed != nullptr) {
                *failed = source->Failed();
            }
        }
    } report{source, failed};
    KL_HttpMessage* message = nullptr;
    if (is_request) {
        KL_HttpRequest* request = nullptr;
        outcome.head = KL_HttpRequest::Parse(AsBuffered(stream), nullptr, request);
        if (request != nullptr) {
            outcome.first_line = std::string(request->GetMethod().GetChars()) + " " +
                                 request->GetUrl().ToRequestString(false).GetChars();
        }
        message = request;
    } else {
        KL_HttpResponse* response = nullptr;
        outcome.head = KL_HttpResponse::Parse(AsBuffered(stream), response);
        if (response != nullptr) {
            outcome.first_line =
                std::to_string(response->GetStatusCode()) + " " + response->GetReasonPhrase().GetChars();
        }
        message = response;
    }
    if (message == nullptr) {
        return outcome;
    }
    EXPECT_EQ(outcome.head, KL_SUCCESS);
    const KL_HttpEntity entity(message->GetHeaders());
    outcome.framed = entity.ContentLengthIsKnown() || entity.IsChunked();
    (void)AsBuffered(stream).SetBufferSize(0);
    KL_HttpEntityBodyInputStream body(stream, entity.GetContentLength(), entity.ContentLengthIsKnown(),
                                      entity.IsChunked(), nullptr, false);
    outcome.body = Drain(body, outcome.body_bytes, 977);
    delete message;
    return outcome;
}

struct Recording {
    const char* file;
    bool is_request;
    const char* first_line;
    size_t body_size;
    bool has_body; // false: a head-only reply (HEAD) whose length describes another message
};

const Recording kRecordings[] = {
    {"curl-get.txt", true, "GET /a%20b/c.txt?x=1&y=%C3%A9", 0, true},
    {"curl-head.txt", true, "HEAD /file", 0, true},
    {"curl-post-form.txt", true, "POST /form", 20, true},
    {"curl-put-chunked.txt", true, "PUT /upload/data.bin", 500, true},
    {"curl-range-headers.txt", true, "GET /movie.mp4", 0, true},
    {"curl-multipart.txt", true, "POST /upload", 0, true},
    {"pyserver-file.txt", false, "200 OK", 460, true},
    {"pyserver-listing.txt", false, "200 OK", 0, true},
    {"pyserver-404.txt", false, "404 File not found", 0, true},
    {"pyserver-head.txt", false, "200 OK", 0, false},
    {"pyserver-redirect.txt", false, "301 Moved Permanently", 0, true},
    {"pyserver-chunked.txt", false, "200 OK", 295, true},
};

size_t HeadLength(const std::string& bytes) {
    return bytes.find("\r\n\r\n") + 4;
}

TEST(HttpWire, RecordingsParseWhole) {
    for (const Recording& r : kRecordings) {
        SCOPED_TRACE(r.file);
        const std::string bytes = ReadDataFile(r.file);
        ASSERT_FALSE(bytes.empty());
        const Outcome outcome = ParseMessage(bytes, r.is_request);
        ASSERT_EQ(outcome.head, KL_SUCCESS);
        EXPECT_EQ(outcome.first_line, r.first_line);
        if (!r.has_body) {
            continue;
        }
        EXPECT_EQ(outcome.body, KL_ERROR_EOS);
        const size_t expected_size = r.body_size != 0 ? r.body_size : bytes.size() - HeadLength(bytes);
        EXPECT_EQ(outcome.body_bytes.size(), expected_size);
    }
    const Outcome put = ParseMessage(ReadDataFile("curl-put-chunked.txt"), true, 3);
    std::string expected;
    for (int i = 0; i < 50; ++i) {
        expected += "0123456789";
    }
    EXPECT_EQ(put.body_bytes, expected);
}

// Cut at every byte: a cut head fails or parses what it holds; a framed body cut short is
// reported broken, never complete.
TEST(HttpWire, RecordingsCutAtEveryByte) {
    const std::set<KL_Result> head_codes = {KL_SUCCESS, KL_ERROR_EOS, KL_ERROR_HTTP_INVALID_REQUEST_LINE,
                                            KL_ERROR_HTTP_INVALID_RESPONSE_LINE};
    const std::set<KL_Result> body_codes = {KL_ERROR_EOS, KL_ERROR_CONNECTION_ABORTED,
                                            KL_ERROR_INVALID_FORMAT};
    for (const Recording& r : kRecordings) {
        SCOPED_TRACE(r.file);
        const std::string bytes = ReadDataFile(r.file);
        for (size_t cut = 0; cut < bytes.size(); ++cut) {
            const Outcome outcome = ParseMessage(bytes.substr(0, cut), r.is_request);
            ASSERT_TRUE(head_codes.count(outcome.head)) << cut << ": " << outcome.head;
            ASSERT_TRUE(body_codes.count(outcome.body)) << cut << ": " << outcome.body;
            if (r.has_body && cut >= HeadLength(bytes) && outcome.framed) {
                ASSERT_NE(outcome.body, KL_ERROR_EOS) << "a body cut at " << cut << " passed as complete";
            }
        }
    }
}

TEST(HttpWire, RecordingsUnderRandomMutations) {
    const unsigned seed = http_test::TestSeed("wire mutation");
    std::mt19937 random(seed);
    const std::set<KL_Result> codes = {KL_SUCCESS,
                                       KL_ERROR_EOS,
                                       KL_ERROR_HTTP_INVALID_REQUEST_LINE,
                                       KL_ERROR_HTTP_INVALID_RESPONSE_LINE,
                                       KL_ERROR_NOT_ENOUGH_SPACE,
                                       KL_ERROR_CONNECTION_ABORTED,
                                       KL_ERROR_INVALID_FORMAT};
    const int kMutations = 10000;
    for (int i = 0; i < kMutations; ++i) {
        const Recording& r = kRecordings[i % std::size(kRecordings)];
        std::string bytes = ReadDataFile(r.file);
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits && !bytes.empty(); ++e) {
            const size_t at = random() % bytes.size();
            const char byte = static_cast<char>(random() % 256);
            switch (random() % 3) {
            case 0:
                bytes[at] = byte;
                break;
            case 1:
                bytes.insert(at, 1, byte);
                break;
            default:
                bytes.erase(at, 1);
                break;
            }
        }
        const Outcome outcome = ParseMessage(bytes, r.is_request, 1 + static_cast<KL_Size>(random() % 64));
        ASSERT_TRUE(codes.count(outcome.head)) << r.file << " mutation " << i << ": " << outcome.head;
        ASSERT_TRUE(codes.count(outcome.body)) << r.file << " mutation " << i << ": " << outcome.body;
    }
}

// A read failure at any point is handed up as it is: never swallowed, never taken for the end.
TEST(HttpWire, ReadFailureAtEveryCall) {
    for (const char* file : {"curl-put-chunked.txt", "pyserver-file.txt", "pyserver-chunked.txt"}) {
        SCOPED_TRACE(file);
        const std::string bytes = ReadDataFile(file);
        const bool is_request = file[0] == 'c';
        for (int call = 1;; ++call) {
            bool failed = false;
            const Outcome outcome = ParseMessage(bytes, is_request, 7, call, &failed);
            if (!failed) {
                EXPECT_EQ(outcome.head, KL_SUCCESS);
                EXPECT_EQ(outcome.body, KL_ERROR_EOS);
                break;
            }
            const bool in_head = outcome.head == KL_ERROR_CONNECTION_RESET;
            ASSERT_TRUE(in_head || (outcome.head == KL_SUCCESS && outcome.body == KL_ERROR_CONNECTION_RESET))
                << "read " << call << ": head " << outcome.head << ", body " << outcome.body;
        }
    }
}

} // namespace
