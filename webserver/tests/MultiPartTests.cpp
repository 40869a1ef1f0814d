#include "RequestBodiesTestSupport.h"
#include "StaticTestSupport.h"
#include "WebServerMIMEStreamParser.h"
#include "WebServerMultiPartFormRequest.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>

using bodytest::MultipartBuilder;
using bodytest::ScopedTemporaryFolder;

namespace {

constexpr const char* kBoundary = "----Bound4ry";

// What a parser made of a body, with the file contents read back.
struct Parsed {
    bool appended = true; // every append succeeded
    bool atEnd = false;
    std::vector<std::pair<std::string, std::string>> arguments; // control name, content
    struct File {
        std::string controlName, fileName, contentType, content;
        bool operator==(const File&) const = default;
    };
    std::vector<File> files;
};

// Feeds the body cut at the given positions (ascending) to a parser.
Parsed parse(const std::string& body, const std::vector<std::size_t>& cuts = {},
             const std::string& boundary = kBoundary) {
    WebServerMultiPartArgumentList arguments;
    WebServerMultiPartFileList files;
    auto parser = WebServerMIMEStreamParser::create(boundary, std::nullopt, arguments, files);
    EXPECT_NE(parser, nullptr);
    Parsed parsed;
    std::size_t start = 0;
    std::vector<std::size_t> ends = cuts;
    ends.push_back(body.size());
    for (std::size_t end : ends) {
        parsed.appended = parsed.appended && parser->appendBytes(body.data() + start, end - start);
        start = end;
    }
    parsed.atEnd = parser->isAtEnd();
    for (const auto& argument : arguments) {
        parsed.arguments.emplace_back(argument->controlName(), platform::stringFromData(argument->data()));
    }
    for (const auto& file : files) {
        parsed.files.push_back({file->controlName(), file->fileName(), file->contentType(),
                                bodytest::readFile(file->temporaryPath()).value_or("<missing>")});
    }
    return parsed;
}

class MultiPartParser : public ::testing::Test {
protected:
    ScopedTemporaryFolder temporary;
};

} // namespace

TEST_F(MultiPartParser, SplitsTextAndFileParts) {
    // "--boundary" only delimits at the start of a line.
    const std::string inLine = std::string("x--") + kBoundary + "\r\ny--" + kBoundary + "--\r\n";
    const std::string body = "preamble to ignore\r\n" +
                             MultipartBuilder(kBoundary)
                                 .field("title", "Hello")
                                 .file("upload", "a b.txt", "text/plain", "line\r\nline2")
                                 .field("empty", "")
                                 .field("inLine", inLine)
                                 .finish() +
                             "epilogue to ignore";
    const Parsed parsed = parse(body);
    EXPECT_TRUE(parsed.appended);
    EXPECT_TRUE(parsed.atEnd);
    using Args = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(parsed.arguments, (Args{{"title", "Hello"}, {"empty", ""}, {"inLine", inLine}}));
    ASSERT_EQ(parsed.files.size(), 1u);
    EXPECT_EQ(parsed.files[0], (Parsed::File{"upload", "a b.txt", "text/plain", "line\r\nline2"}));
    EXPECT_TRUE(temporary.entries().empty()) << "files are deleted with their parts";
}

TEST_F(MultiPartParser, SameResultWhenCutAtEveryPosition) {
    const std::string body =
        MultipartBuilder(kBoundary)
            .field("a", "first value")
            .file("f", "x.bin", "application/octet-stream", "\r\n--" + std::string(kBoundary) + "X\r\n-")
            .field("b", "-\r\n--")
            .finish();
    const Parsed whole = parse(body);
    ASSERT_TRUE(whole.atEnd);
    ASSERT_EQ(whole.arguments.size(), 2u);
    ASSERT_EQ(whole.files.size(), 1u);
    EXPECT_EQ(whole.files[0].content, "\r\n--" + std::string(kBoundary) + "X\r\n-");
    EXPECT_EQ(whole.arguments[1].second, "-\r\n--");
    for (std::size_t cut = 0; cut <= body.size(); ++cut) {
        const Parsed split = parse(body, {cut});
        EXPECT_TRUE(split.appended && split.atEnd) << "cut at " << cut;
        EXPECT_EQ(split.arguments, whole.arguments) << "cut at " << cut;
        EXPECT_EQ(split.files, whole.files) << "cut at " << cut;
    }
    std::vector<std::size_t> everyByte(body.size() - 1);
    std::iota(everyByte.begin(), everyByte.end(), 1);
    const Parsed bytewise = parse(body, everyByte);
    EXPECT_EQ(bytewise.arguments, whole.arguments);
    EXPECT_EQ(bytewise.files, whole.files);
}

TEST_F(MultiPartParser, NestedMixedPartGivesOneFilePerInnerPart) {
    const std::string inner =
        MultipartBuilder("inner")
            .part("Content-Disposition: file; filename=\"one.txt\"\r\nContent-Type: text/plain\r\n", "first")
            .part("Content-Disposition: file; filename=\"two.bin\"\r\n", "second\r\n")
            .finish();
    const std::string body = MultipartBuilder(kBoundary)
                                 .field("before", "1")
                                 .part("Content-Disposition: form-data; name=\"files\"\r\n"
                                       "Content-Type: multipart/mixed; boundary=inner\r\n",
                                       inner)
                                 .field("after", "2")
                                 .finish();
    for (std::size_t cut : {std::size_t{0}, body.size() / 2, body.size() - 3}) {
        const Parsed parsed = parse(body, {cut});
        EXPECT_TRUE(parsed.appended && parsed.atEnd);
        ASSERT_EQ(parsed.files.size(), 2u);
        EXPECT_EQ(parsed.files[0], (Parsed::File{"files", "one.txt", "text/plain", "first"}));
        EXPECT_EQ(parsed.files[1], (Parsed::File{"files", "two.bin", "text/plain", "second\r\n"}));
        EXPECT_EQ(parsed.arguments.size(), 2u);
    }
}

TEST_F(MultiPartParser, FileFieldWithoutFileAndHeaderNamesInAnyCase) {
    const Parsed parsed = parse(MultipartBuilder(kBoundary)
                                    .file("upload", "", "application/octet-stream", "")
                                    .part("content-disposition: form-data; name=\"f\"; filename=\"n.png\"\r\n"
                                          "CONTENT-TYPE:   image/PNG  \r\nX-Other: ignored\r\n",
                                          "png")
                                    .finish());
    EXPECT_TRUE(parsed.atEnd);
    ASSERT_EQ(parsed.files.size(), 2u);
    EXPECT_EQ(parsed.files[0], (Parsed::File{"upload", "", "application/octet-stream", ""}));
    EXPECT_EQ(parsed.files[1], (Parsed::File{"f", "n.png", "image/png", "png"}));
    EXPECT_TRUE(parsed.arguments.empty());
}

// A quoted file name is a quoted-string whose backslash escapes a quote or a backslash (curl
// --form-escape); browsers send other backslashes as they are, and a quote, CR and LF as %22, %0D
// and %0A, which are read back. Bytes that are not UTF-8, a line break and a header folded inside
// the name stay in it whole, for the handler to refuse.
TEST_F(MultiPartParser, QuotedFileNamesAreReadAsClientsWriteThem) {
    const struct {
        std::string written, fileName;
    } cases[] = {
        {R"("quote\".txt")", "quote\".txt"},
        {R"("back\\slash.txt")", "back\\slash.txt"},
        {R"("C:\dir\a.txt")", "C:\\dir\\a.txt"},
        {R"("ends in\")", "ends in\\"},
        {R"("say %22hi%22.txt")", "say \"hi\".txt"},
        {R"("a%0D%0Ab %0d %25 %2.txt")", "a\r\nb %0d %25 %2.txt"},
        {R"("a;b=c.txt")", "a;b=c.txt"},
        {"plain.txt", "plain.txt"},
        {"\"caf\xE9.txt\"", "caf\xE9.txt"},
        {"\"a\nb.txt\"", "a\nb.txt"},
        {"\"a\r\n b.txt\"", "a\r\n b.txt"},
        {"\"a\r\n\tb.txt\"; x=\"y\"", "a\r\n\tb.txt"},
    };
    for (const auto& c : cases) {
        const Parsed parsed =
            parse(MultipartBuilder(kBoundary)
                      .part("Content-Disposition: form-data; name=\"f\"; filename=" + c.written + "\r\n", "x")
                      .finish());
        ASSERT_EQ(parsed.files.size(), 1u) << c.written;
        EXPECT_EQ(parsed.files[0].fileName, c.fileName) << c.written;
    }
}

TEST_F(MultiPartParser, PartWithoutContentTypeIsTextPlain) {
    WebServerMultiPartArgumentList arguments;
    WebServerMultiPartFileList files;
    auto parser = WebServerMIMEStreamParser::create("b", std::nullopt, arguments, files);
    const std::string body = MultipartBuilder("b").field("a", "caf\xC3\xA9").finish();
    ASSERT_TRUE(parser->appendBytes(body.data(), body.size()));
    ASSERT_EQ(arguments.size(), 1u);
    EXPECT_EQ(arguments[0]->contentType(), "text/plain");
    EXPECT_EQ(arguments[0]->string(), std::optional<std::string>("caf\xC3\xA9"));
    EXPECT_EQ(arguments[0]->description(), "<WebServerMultiPartArgument | 'text/plain' | 5 bytes>");
}

TEST_F(MultiPartParser, MalformedPartsFail) {
    const std::string nestedTwice = MultipartBuilder("inner")
                                        .part("Content-Disposition: file; filename=\"x\"\r\nContent-Type: "
                                              "multipart/mixed; boundary=deeper\r\n",
                                              MultipartBuilder("deeper").finish())
                                        .finish();
    const std::string longHeader =
        "X-Long: " + std::string(WebServerMIMEStreamParser::kMaximumHeadersSize, 'h') + "\r\n";
    const std::string bodies[] = {
        MultipartBuilder(kBoundary) // a mixed part nested twice
            .part("Content-Disposition: form-data; name=\"files\"\r\n"
                  "Content-Type: multipart/mixed; boundary=inner\r\n",
                  nestedTwice)
            .finish(),
        MultipartBuilder(kBoundary).part("Content-Type: text/plain\r\n", "x").finish(), // no control name
        MultipartBuilder(kBoundary).part("", "no headers").finish(),
        MultipartBuilder(kBoundary).part("Content-Disposition: form-data; name=\"\xFF\"\r\n", "x").finish(),
        MultipartBuilder(kBoundary).part(longHeader, "x").finish(), // headers over the cap
        "--" + std::string(kBoundary) + "\r\n" + longHeader,
    };
    for (const std::string& body : bodies) {
        EXPECT_FALSE(parse(body).appended) << body.substr(0, 200);
    }
    EXPECT_TRUE(temporary.entries().empty());
}

TEST_F(MultiPartParser, MissingClosingBoundaryIsNotAtEnd) {
    const Parsed parsed =
        parse(MultipartBuilder(kBoundary).field("a", "1").file("f", "x", "text/plain", "abc").unfinished());
    EXPECT_TRUE(parsed.appended);
    EXPECT_FALSE(parsed.atEnd);
    EXPECT_TRUE(temporary.entries().empty()) << "the cut-short file part must be deleted";
}

TEST_F(MultiPartParser, RefusesEmptyOrNonASCIIBoundary) {
    WebServerMultiPartArgumentList arguments;
    WebServerMultiPartFileList files;
    EXPECT_EQ(WebServerMIMEStreamParser::create("", std::nullopt, arguments, files), nullptr);
    EXPECT_EQ(WebServerMIMEStreamParser::create("b\xC3\xA9", std::nullopt, arguments, files), nullptr);
}

TEST_F(MultiPartParser, TextPartOverTheCapFails) {
    const std::string big(WebServerMIMEStreamParser::kMaximumArgumentSize + 1, 'x');
    EXPECT_FALSE(parse(MultipartBuilder(kBoundary).field("a", big).finish()).appended);
    const std::string fits(WebServerMIMEStreamParser::kMaximumArgumentSize, 'x');
    const Parsed parsed = parse(MultipartBuilder(kBoundary).field("a", fits).finish(), {1000, 500000});
    ASSERT_EQ(parsed.arguments.size(), 1u);
    EXPECT_EQ(parsed.arguments[0].second.size(), fits.size());
    // The same amount of text without any boundary fails before the body ends.
    const std::string endless = "--" + std::string(kBoundary) +
                                "\r\nContent-Disposition: form-data; name=a\r\n\r\n" +
                                std::string(2 * WebServerMIMEStreamParser::kMaximumArgumentSize, 'y');
    EXPECT_FALSE(parse(endless).appended);
}

// A body holds at most 10,000 file parts: the last of them is taken, the next fails. (On a tmpfs,
// where making the files costs little.)
TEST_F(MultiPartParser, FilePartsBeyondTheCapFail) {
    const std::string part = "--" + std::string(kBoundary) +
                             "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"a\"\r\n\r\n\r\n";
    const std::size_t cap = 10000;
    std::string parts;
    for (std::size_t i = 0; i < cap; ++i) {
        parts += part;
    }
    const statictest::ScratchFolder onTmpfs("/dev/shm/lanyard-parts-XXXXXX");
    WebServerMultiPartArgumentList arguments;
    WebServerMultiPartFileList files;
    auto parser = WebServerMIMEStreamParser::create(kBoundary, std::nullopt, arguments, files);
    parser->setTemporaryFolder(onTmpfs.valid() ? onTmpfs.path() : temporary.path());
    ASSERT_TRUE(parser->appendBytes(parts.data(), parts.size()));
    EXPECT_FALSE(parser->appendBytes(part.data(), part.size()));
    EXPECT_TRUE(parser->hasExceededFiles());
    EXPECT_EQ(files.size(), cap);
}

TEST_F(MultiPartParser, LongPreambleIsDiscardedAsItArrives) {
    const std::string preamble(3 * WebServerMIMEStreamParser::kMaximumHeadersSize, 'p');
    const Parsed parsed =
        parse(preamble + "\r\n" + MultipartBuilder(kBoundary).field("a", "1").finish(), {12345});
    EXPECT_TRUE(parsed.appended && parsed.atEnd);
    EXPECT_EQ(parsed.arguments.size(), 1u);
}

TEST_F(MultiPartParser, ByteAtATimeStaysLinear) {
    // Resuming each search where the last stopped keeps this linear; rescanning would not finish.
    const std::string body = MultipartBuilder(kBoundary)
                                 .field("a", std::string(512 * 1024, 'a'))
                                 .file("f", "f", "text/plain", std::string(512 * 1024, '\r'))
                                 .finish();
    std::vector<std::size_t> everyByte(body.size() - 1);
    std::iota(everyByte.begin(), everyByte.end(), 1);
    const Parsed parsed = parse(body, everyByte);
    EXPECT_TRUE(parsed.appended && parsed.atEnd);
    ASSERT_EQ(parsed.files.size(), 1u);
    EXPECT_EQ(parsed.files[0].content.size(), 512u * 1024);
}

TEST_F(MultiPartParser, LargeFilePartStreamsToDiskIntact) {
    const std::string content = bodytest::randomBytes(64 * 1024 * 1024, 7);
    const std::string body =
        MultipartBuilder(kBoundary).file("big", "big.bin", "application/octet-stream", content).finish();
    std::vector<std::size_t> cuts;
    for (std::size_t at = 100; at < body.size(); at += 256 * 1024 + 13) {
        cuts.push_back(at);
    }
    const Parsed parsed = parse(body, cuts);
    ASSERT_TRUE(parsed.appended && parsed.atEnd);
    ASSERT_EQ(parsed.files.size(), 1u);
    EXPECT_EQ(parsed.files[0].content.size(), content.size());
    EXPECT_TRUE(parsed.files[0].content == content);
}

TEST_F(MultiPartParser, FailedPartLeavesNoTemporaryFile) {
    // The second file of the mixed part is cut short by the outer boundary.
    const std::string inner =
        MultipartBuilder("inner").part("Content-Disposition: file; filename=\"a\"\r\n", "aaa").unfinished() +
        "--inner\r\nContent-Disposition: file; filename=\"b\"\r\n\r\nbbb";
    const std::string body = MultipartBuilder(kBoundary)
                                 .part("Content-Disposition: form-data; name=\"files\"\r\n"
                                       "Content-Type: multipart/mixed; boundary=inner\r\n",
                                       inner)
                                 .finish();
    WebServerMultiPartArgumentList arguments;
    WebServerMultiPartFileList files;
    auto parser = WebServerMIMEStreamParser::create(kBoundary, std::nullopt, arguments, files);
    EXPECT_FALSE(parser->appendBytes(body.data(), body.size()));
    ASSERT_EQ(files.size(), 1u); // the complete first file
    EXPECT_EQ(temporary.entries().size(), 1u);
    files.clear();
    EXPECT_TRUE(temporary.entries().empty());
}

TEST_F(MultiPartParser, TemporaryFileOnDescriptorZeroWorks) {
    const int savedInput = ::dup(0);
    ASSERT_GE(savedInput, 0);
    ::close(0); // the next descriptor handed out is 0
    const Parsed parsed = parse(MultipartBuilder(kBoundary).file("f", "z", "text/plain", "zero").finish());
    ::dup2(savedInput, 0);
    ::close(savedInput);
    EXPECT_TRUE(parsed.appended && parsed.atEnd);
    ASSERT_EQ(parsed.files.size(), 1u);
    EXPECT_EQ(parsed.files[0].content, "zero");
}
