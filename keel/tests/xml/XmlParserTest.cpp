// The parser's behaviour on small documents, as a table: each input gives either the compact
// text of its tree or the parse code in brackets.
#include "XmlTestSupport.h"

#include <gtest/gtest.h>

using xmltest::ParsePieces;
using xmltest::Roundtrip;

namespace {

std::string Code(KL_Result result) {
    return "[" + std::to_string(result) + "]";
}

std::string Nested(int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i) {
        text += "<a>";
    }
    for (int i = 0; i < depth; ++i) {
        text += "</a>";
    }
    return text;
}

struct ParseCase {
    const char* what;
    std::string input;
    std::string expected;
    bool keep_whitespace = false;
};

// Test names and listings show what a case is about, not its bytes (which hold addresses).
void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << c.what;
}

const ParseCase kCases[] = {
    {"empty-element tag", "<a/>", "<a/>"},
    {"byte-order mark", "\xEF\xBB\xBF<a/>", "<a/>"},
    {"lone 0xEF", "\xEF<a/>", Code(KL_ERROR_INVALID_SYNTAX)},
    {"0xEF 0xBB without 0xBF", "\xEF\xBB<a/>", Code(KL_ERROR_INVALID_SYNTAX)},
    {"end tag of another name", "<a></b>", Code(KL_ERROR_XML_TAG_MISMATCH)},
    {"end tag without element", "</a>", Code(KL_ERROR_XML_TAG_MISMATCH)},
    {"end tag of another prefix", "<p:a></q:a>", Code(KL_ERROR_XML_TAG_MISMATCH)},
    {"end tag split at its last colon", "<p:a:b></p:a:b>", Code(KL_ERROR_XML_TAG_MISMATCH)},
    {"prefixed end tag", "<p:a></p:a>", "<p:a/>"},
    {"two roots", "<a/><b/>", Code(KL_ERROR_XML_SECOND_ROOT_ELEMENT)},
    {"empty input", "", Code(KL_ERROR_XML_NO_ROOT_ELEMENT)},
    {"whitespace only", " \r\n\t", Code(KL_ERROR_XML_NO_ROOT_ELEMENT)},
    {"unclosed root", "<a><b/>", Code(KL_ERROR_XML_NO_ROOT_ELEMENT)},
    {"text before the root", "x<a/>", Code(KL_ERROR_INVALID_SYNTAX)},
    {"text after the root, then a tag", "<a/>x<b/>", Code(KL_ERROR_XML_INVALID_NESTING)},
    {"text after the root at the end", "<a/>x", "<a/>"},
    {"whitespace and comment after the root", "<a/>\n<!-- c -->\n", "<a/>"},
    {"declaration line", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<a/>", "<a/>"},
    {"processing instruction in an element", "<a><?pi x?> <b/></a>", "<a><b/></a>"},
    {"text after a processing instruction", "<a><?pi?>t</a>", Code(KL_ERROR_INVALID_SYNTAX)},
    {"question mark inside a processing instruction", "<?a?b?><a/>", Code(KL_ERROR_INVALID_SYNTAX)},
    {"entities", "<a>&lt;&#65;&#x42;&foo;</a>", "<a>&lt;ABfoo</a>"},
    {"predefined entities", "<a>&gt;&amp;&quot;&apos;</a>", "<a>&gt;&amp;\"'</a>"},
    {"upper-case hexadecimal digits", "<a>&#x4A;&#x4a;</a>", "<a>JJ</a>"},
    {"four-byte reference", "<a>&#x1F3B5;</a>", "<a>\xF0\x9F\x8E\xB5</a>"},
    {"bad decimal digit", "<a>&#6x;</a>", Code(KL_ERROR_INVALID_SYNTAX)},
    {"reference without digits", "<a>&#;</a>", Code(KL_ERROR_INVALID_SYNTAX)},
    {"hexadecimal reference without digits", "<a>&#x;</a>", Code(KL_ERROR_INVALID_SYNTAX)},
    {"reference to NUL", "<a>&#0;</a>", Code(KL_ERROR_INVALID_SYNTAX)},
    {"reference beyond Unicode", "<a>x&#x110000;y</a>", "<a>xy</a>"},
    {"huge reference does not wrap", "<a>&#4294967361;</a>", "<a/>"},
    {"huge hexadecimal reference", "<a>&#x100000041;</a>", "<a/>"},
    {"surrogate reference", "<a>&#xD800;</a>", "<a/>"},
    {"entity with a space", "<a>&l t;</a>", Code(KL_ERROR_INVALID_SYNTAX)},
    {"entity right after an empty-element tag", "<a><b/>&lt;<c x=\"1\"/>&#65;</a>",
     "<a><b/>&lt;<c x=\"1\"/>A</a>"},
    {"entity in a value", "<a b=\"&lt;&#x41;\"/>", "<a b=\"&lt;A\"/>"},
    {"TAB and newline in a value", "<a b=\"x\ty\nz\r\nw\"/>", "<a b=\"x y z w\"/>"},
    {"other quote in a value", "<a b='say \"hi\"' c=\"it's\"/>", "<a b=\"say &quot;hi&quot;\" c=\"it's\"/>"},
    {"ampersand alone in a value", "<a b=\"x&y\"/>", Code(KL_ERROR_INVALID_SYNTAX)},
    {"less-than in a value", "<a b=\"<\"/>", Code(KL_ERROR_INVALID_SYNTAX)},
    {"control byte in a value", "<a b=\"\x01\"/>", Code(KL_ERROR_INVALID_SYNTAX)},
    {"unquoted value", "<a b=1/>", Code(KL_ERROR_INVALID_SYNTAX)},
    {"spaces around the equals sign", "<a b = \"1\" />", "<a b=\"1\"/>"},
    {"attributes without space between", "<a b=\"1\"c=\"2\"/>", "<a b=\"1\" c=\"2\"/>"},
    {"attribute order and duplicates kept", "<a z=\"1\" b=\"2\" z=\"3\"/>", "<a z=\"1\" b=\"2\" z=\"3\"/>"},
    {"CR LF in text", "<a>x\r\ny\rz\n\rw</a>", "<a>x\ny\nz\n\nw</a>"},
    {"comment between texts", "<a>x<!-- c - d -->y</a>", "<a>xy</a>"},
    {"two dashes inside a comment", "<a><!-- c -- d --></a>", Code(KL_ERROR_INVALID_SYNTAX)},
    {"control byte in a comment", "<a><!-- \x02 --></a>", Code(KL_ERROR_INVALID_SYNTAX)},
    {"DOCTYPE with internal subset", "<!DOCTYPE a [<!ENTITY e \"v\">]>\n<a/>", "<a/>"},
    {"DOCTYPE without subset", "<!DOCTYPE a SYSTEM \"a.dtd\"><a/>", "<a/>"},
    {"other declaration", "<!ELEMENT a ANY><a/>", "<a/>"},
    {"CDATA", "<a><![CDATA[<x> & ]] ]>]]></a>", "<a>&lt;x&gt; &amp; ]] ]&gt;</a>"},
    {"CDATA ending in brackets", "<a><![CDATA[x]]]]]></a>", "<a>x]]]</a>"},
    {"CDATA joins the text around it", "<a>x<![CDATA[y]]>z</a>", "<a>xyz</a>"},
    {"whitespace between elements dropped", "<a> <b/>\n\t<c> x </c> </a>", "<a><b/><c> x </c></a>"},
    {"whitespace kept on request", "<a> <b/> </a>", "<a> <b/> </a>", true},
    {"default namespace", "<a xmlns=\"u\"><b/></a>", "<a xmlns=\"u\"><b/></a>"},
    {"prefix binding after attributes", "<p:a xmlns:p=\"u\" b=\"1\"/>", "<p:a b=\"1\" xmlns:p=\"u\"/>"},
    {"xmlns: with empty prefix binds the default", "<a xmlns:=\"u\"/>", "<a xmlns=\"u\"/>"},
    {"name starting with xmlns is an attribute", "<a xmlnsx=\"1\"/>", "<a xmlnsx=\"1\"/>"},
    {"empty prefix before xmlns: gives an attribute", "<a :xmlns:p=\"u\" b=\"1\"/>",
     "<a xmlns:p=\"u\" b=\"1\"/>"},
    {"whitespace in an end tag", "<a>x</a \n>", "<a>x</a>"},
    {"whitespace inside a start tag", "<a\n/>", "<a/>"},
    {"space after less-than", "< a/>", Code(KL_ERROR_INVALID_SYNTAX)},
    {"byte 0xD7 is no name character", "<a\xD7/>", Code(KL_ERROR_INVALID_SYNTAX)},
    {"NUL ends the input", std::string("<a/>\0<b/>", 9), "<a/>"},
    {"256 levels", Nested(256), Nested(255).insert(255 * 3, "<a/>")},
    {"257 levels", Nested(257), Code(KL_ERROR_XML_INVALID_NESTING)},
};

class ParserTable : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParserTable, GivesTreeOrCode) {
    const ParseCase& c = GetParam();
    EXPECT_EQ(Roundtrip(c.input, c.keep_whitespace), c.expected) << c.what;
}

TEST_P(ParserTable, GivesTheSameOneByteAtATime) {
    const ParseCase& c = GetParam();
    if (c.keep_whitespace || c.input.find('\0') != std::string::npos) {
        GTEST_SKIP() << "whole-input case";
    }
    std::vector<std::string> pieces;
    for (char byte : c.input) {
        pieces.emplace_back(1, byte);
    }
    EXPECT_EQ(ParsePieces(pieces), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Xml, ParserTable, ::testing::ValuesIn(kCases));

TEST(XmlParser, DeepNestingFromAPeerIsRefusedWithoutRecursion) {
    std::string text;
    for (int i = 0; i < 100000; ++i) {
        text += "<a>";
    }
    for (int i = 0; i < 100000; ++i) {
        text += "</a>";
    }
    EXPECT_EQ(Roundtrip(text), Code(KL_ERROR_XML_INVALID_NESTING));
}

TEST(XmlParser, ParserIsReusableAfterAFailure) {
    KL_XmlParser parser;
    KL_XmlNode* tree = nullptr;
    EXPECT_EQ(parser.Parse("<a><b></a>", tree), KL_ERROR_XML_TAG_MISMATCH);
    EXPECT_EQ(tree, nullptr);
    ASSERT_EQ(parser.Parse("<c/>", tree), KL_SUCCESS);
    xmltest::Tree owned(tree);
    EXPECT_EQ(xmltest::Write(*owned), "<c/>");
}

TEST(XmlParser, IncrementalModeHandsOutTheRootWithThePieceThatEndsIt) {
    KL_XmlParser parser;
    KL_XmlNode* tree = nullptr;
    EXPECT_EQ(parser.Parse("<a><b", tree, true), KL_SUCCESS);
    EXPECT_EQ(tree, nullptr);
    EXPECT_EQ(parser.Parse("/></a> ", tree, true), KL_SUCCESS);
    xmltest::Tree owned(tree);
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(xmltest::Write(*owned), "<a><b/></a>");
    EXPECT_EQ(parser.Parse("<c/>", tree, true), KL_ERROR_XML_SECOND_ROOT_ELEMENT);
    EXPECT_EQ(parser.Parse(" ", tree, true), KL_ERROR_XML_SECOND_ROOT_ELEMENT) << "failures stick";
    EXPECT_EQ(parser.Parse("<d/><e/>", tree), KL_ERROR_XML_SECOND_ROOT_ELEMENT);
    EXPECT_EQ(tree, nullptr);
    KL_XmlParser fresh;
    EXPECT_EQ(fresh.Parse("<d/><e/>", tree, true), KL_ERROR_XML_SECOND_ROOT_ELEMENT);
    EXPECT_EQ(tree, nullptr) << "a root completed by a failing call is freed";
    xmltest::ChunkedInputStream stream("<f/>", 0);
    KL_XmlParser streaming;
    EXPECT_EQ(streaming.Parse(stream, tree, true), KL_ERROR_EOS);
    ASSERT_NE(tree, nullptr) << "the end of the stream is no failure";
    delete tree;
}

// Every read failure is handed up and leaves nothing behind; the size limit stops reading.
TEST(XmlParser, StreamFormsPassReadFailuresAndHonourTheLimit) {
    const std::string text = xmltest::ReadDataFile("xml-scpd.xml");
    const std::string expected = Roundtrip(text);
    for (int fail_at = 1;; ++fail_at) {
        xmltest::ChunkedInputStream stream(text, fail_at);
        KL_XmlParser parser;
        KL_XmlNode* tree = nullptr;
        KL_Result result = parser.Parse(stream, tree);
        xmltest::Tree owned(tree);
        if (result == KL_ERROR_READ_FAILED) {
            EXPECT_EQ(tree, nullptr);
            continue;
        }
        ASSERT_EQ(result, KL_SUCCESS) << "fail_at " << fail_at;
        EXPECT_EQ(xmltest::Write(*owned), expected);
        break;
    }
    xmltest::ChunkedInputStream stream("<a/><b/>", 0);
    KL_XmlParser parser;
    KL_XmlNode* tree = nullptr;
    KL_Size size = 4;
    ASSERT_EQ(parser.Parse(stream, size, tree), KL_SUCCESS);
    xmltest::Tree owned(tree);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(xmltest::Write(*owned), "<a/>");
}

} // namespace
