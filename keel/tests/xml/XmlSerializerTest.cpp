// The serializer: escaping, well-formed output from any bytes, indentation, the short form,
// CDATA, comments, the declaration, and output failures handed up.
#include "XmlTestSupport.h"

#include "KL_XmlSerializer.h"

#include <gtest/gtest.h>

namespace {

std::string Escaped(const char* text, bool attribute) {
    KL_StringOutputStream output(16);
    KL_XmlSerializer serializer(&output, 0, true, false);
    EXPECT_EQ(serializer.StartElement(nullptr, "e"), KL_SUCCESS);
    if (attribute) {
        EXPECT_EQ(serializer.Attribute(nullptr, "v", text), KL_SUCCESS);
    } else {
        EXPECT_EQ(serializer.Text(text), KL_SUCCESS);
    }
    EXPECT_EQ(serializer.EndElement(nullptr, "e"), KL_SUCCESS);
    std::string all(output.GetString().GetChars(), output.GetString().GetLength());
    return attribute ? all.substr(6, all.size() - 9) : all.substr(3, all.size() - 7);
}

const char kFFFD[] = "\xEF\xBF\xBD";

TEST(XmlSerializer, EscapesTextAndAttributeValues) {
    const struct {
        const char* input;
        std::string text;
        std::string attribute;
    } cases[] = {
        {"a&b<c>d", "a&amp;b&lt;c&gt;d", "a&amp;b&lt;c>d"},
        {"\"q\" 'a'", "\"q\" 'a'", "&quot;q&quot; 'a'"},
        {"x\ry", "x&#xD;y", "x&#xD;y"},
        {"t\tl\n", "t\tl\n", "t&#x9;l&#xA;"},
        {"caf\xC3\xA9 \xF0\x9F\x8E\xB5 \x7F", "caf\xC3\xA9 \xF0\x9F\x8E\xB5 \x7F",
         "caf\xC3\xA9 \xF0\x9F\x8E\xB5 \x7F"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Escaped(c.input, false), c.text) << c.input;
        EXPECT_EQ(Escaped(c.input, true), c.attribute) << c.input;
    }
}

// Texts longer than what the serializer gathers before a write, and runs longer than that, escape
// like their pieces.
TEST(XmlSerializer, LongTextsEscapeLikeTheirPieces) {
    std::string input;
    std::string text;
    for (int i = 0; i < 3000; ++i) {
        input += "a&b<c>d";
        text += "a&amp;b&lt;c&gt;d";
    }
    const std::string run(20000, 'x');
    input += run + "<";
    text += run + "&lt;";
    EXPECT_EQ(Escaped(input.c_str(), false), text);
}

// Bytes that would make the document ill-formed become U+FFFD, one per offending byte.
TEST(XmlSerializer, ReplacesInvalidUtf8AndControlBytes) {
    const std::string r = kFFFD;
    const struct {
        const char* input;
        std::string output;
    } cases[] = {
        {"a\x01z", "a" + r + "z"},
        {"\x1F\x0B\x0C", r + r + r},
        {"x\xC3", "x" + r},
        {"\xC3(", r + "("},
        {"\xC0\xAF", r + r},
        {"\xE0\x80\x80", r + r + r},
        {"\xED\xA0\x80", r + r + r},
        {"\xF4\x90\x80\x80", r + r + r + r},
        {"\xF8\x88\x80\x80\x80", r + r + r + r + r},
        {"\xEF\xBF\xBE\xEF\xBF\xBF", r + r},
        {"\xE2\x82", r + r},
        {"\xE2\x82\xAC ok", "\xE2\x82\xAC ok"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Escaped(c.input, false), c.output) << testing::PrintToString(std::string(c.input));
        EXPECT_EQ(Escaped(c.input, true), c.output) << testing::PrintToString(std::string(c.input));
    }
}

TEST(XmlSerializer, IndentsWithCrLfAndKeepsTextOnItsLine) {
    KL_Result result = KL_SUCCESS;
    xmltest::Tree tree = xmltest::Parse("<a><b><c/><d>x</d></b><e/></a>", result);
    ASSERT_EQ(result, KL_SUCCESS);
    EXPECT_EQ(xmltest::Write(*tree, 2),
              "<a>\r\n  <b>\r\n    <c/>\r\n    <d>x</d>\r\n  </b>\r\n  <e/>\r\n</a>");
    EXPECT_EQ(xmltest::Write(*tree, 0), "<a><b><c/><d>x</d></b><e/></a>");
    EXPECT_EQ(xmltest::Write(*tree, 0, true),
              std::string(KL_XmlSerializer::XmlDeclaration) + "<a><b><c/><d>x</d></b><e/></a>")
        << "the declaration is written once";
}

TEST(XmlSerializer, ShortFormIsFollowedByASibling) {
    KL_StringOutputStream output(16);
    KL_XmlSerializer serializer(&output, 0, true, false);
    ASSERT_EQ(serializer.StartDocument(), KL_SUCCESS);
    ASSERT_EQ(serializer.StartElement("p", "a"), KL_SUCCESS);
    ASSERT_EQ(serializer.StartElement(nullptr, "b"), KL_SUCCESS);
    ASSERT_EQ(serializer.EndElement(nullptr, "b"), KL_SUCCESS);
    ASSERT_EQ(serializer.StartElement(nullptr, "c"), KL_SUCCESS);
    ASSERT_EQ(serializer.Attribute("x", "k", "v"), KL_SUCCESS);
    ASSERT_EQ(serializer.EndElement(nullptr, "c"), KL_SUCCESS);
    ASSERT_EQ(serializer.Text("t"), KL_SUCCESS);
    ASSERT_EQ(serializer.EndElement("p", "a"), KL_SUCCESS);
    EXPECT_EQ(serializer.EndDocument(), KL_SUCCESS);
    EXPECT_STREQ(output.GetString().GetChars(), "<p:a><b/><c x:k=\"v\"/>t</p:a>");
}

TEST(XmlSerializer, WritesCdataCommentsAndLongFormOnRequest) {
    KL_StringOutputStream output(16);
    KL_XmlSerializer serializer(&output, 0, false, true);
    ASSERT_EQ(serializer.StartDocument(), KL_SUCCESS);
    ASSERT_EQ(serializer.StartElement(nullptr, "a"), KL_SUCCESS);
    ASSERT_EQ(serializer.CdataSection("<x> & y"), KL_SUCCESS);
    ASSERT_EQ(serializer.Comment(" note "), KL_SUCCESS);
    ASSERT_EQ(serializer.StartElement(nullptr, "b"), KL_SUCCESS);
    EXPECT_EQ(serializer.EndDocument(), KL_ERROR_INTERNAL) << "a start tag is open";
    ASSERT_EQ(serializer.EndElement(nullptr, "b"), KL_SUCCESS);
    ASSERT_EQ(serializer.EndElement(nullptr, "a"), KL_SUCCESS);
    EXPECT_EQ(serializer.EndDocument(), KL_SUCCESS);
    EXPECT_STREQ(
        output.GetString().GetChars(),
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<a><![CDATA[<x> & y]]><!-- note --><b></b></a>");
}

// Every write failure reaches the caller of the writer.
TEST(XmlWriter, HandsUpOutputFailures) {
    const std::string text = xmltest::ReadDataFile("xml-gena-propertyset.xml");
    KL_Result result = KL_SUCCESS;
    xmltest::Tree tree = xmltest::Parse(text, result);
    ASSERT_EQ(result, KL_SUCCESS);
    const std::string expected = xmltest::Write(*tree, 2, true);
    for (int fail_at = 1;; ++fail_at) {
        xmltest::FailingOutputStream output(fail_at);
        result = KL_XmlWriter(2).Serialize(*tree, output, true);
        if (result == KL_SUCCESS) {
            EXPECT_EQ(output.GetText(), expected);
            break;
        }
        ASSERT_EQ(result, KL_ERROR_WRITE_FAILED) << "fail_at " << fail_at;
    }
}

} // namespace
