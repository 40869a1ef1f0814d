// The element tree: child and attribute look-ups with namespaces, attribute order, namespace
// scopes that follow re-parenting, and trees too deep for recursion.
#include "KL_StringOutputStream.h"
#include "KL_XmlCanonicalWriter.h"
#include "XmlTestSupport.h"

#include <gtest/gtest.h>

namespace {

const char kDocument[] = "<r xmlns=\"urn:d\" xmlns:p=\"urn:p\" xmlns:e=\"\">"
                         "<a>1</a><p:a>2</p:a><e:a>3</e:a><a xmlns=\"\">4</a><a>5</a>"
                         "<b x=\"plain\" p:x=\"prefixed\" q:y=\"unbound\"/></r>";

std::string TextOf(const KL_XmlElementNode* element) {
    if (element == nullptr) {
        return "null";
    }
    const KL_String* text = element->GetText();
    return text ? text->GetChars() : "no text";
}

std::string ValueOf(const KL_String* value) {
    return value ? value->GetChars() : "null";
}

class ElementNode : public ::testing::Test {
protected:
    void SetUp() override {
        KL_Result result = KL_SUCCESS;
        m_Tree = xmltest::Parse(kDocument, result);
        ASSERT_EQ(result, KL_SUCCESS);
        m_Root = m_Tree->AsElementNode();
    }
    xmltest::Tree m_Tree;
    KL_XmlElementNode* m_Root = nullptr;
};

TEST_F(ElementNode, GetChildMatchesNamespaces) {
    const struct {
        const char* namespc;
        uint32_t n;
        const char* text;
    } cases[] = {
        {"urn:d", 0, "1"}, {"urn:d", 1, "5"}, {"urn:d", 2, "null"}, {"urn:p", 0, "2"},
        {"*", 0, "1"},     {"*", 2, "3"},     {"*", 4, "5"},        {nullptr, 0, "3"},
        {"", 1, "4"},      {"", 2, "null"},   {"urn:x", 0, "null"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TextOf(m_Root->GetChild("a", c.namespc, c.n)), c.text)
            << (c.namespc ? c.namespc : "(null)") << " #" << c.n;
    }
    EXPECT_EQ(m_Root->GetChild("A", "*"), nullptr) << "tags are case-sensitive";
}

TEST_F(ElementNode, GetAttributeMatchesNamespaces) {
    const KL_XmlElementNode* b = m_Root->GetChild("b", "urn:d");
    ASSERT_NE(b, nullptr);
    const struct {
        const char* name;
        const char* namespc;
        const char* value;
    } cases[] = {
        {"x", nullptr, "plain"}, {"x", "", "plain"},    {"x", "*", "plain"},    {"x", "urn:p", "prefixed"},
        {"x", "urn:d", "null"},  {"y", "*", "unbound"}, {"y", nullptr, "null"}, {"X", "*", "null"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ValueOf(b->GetAttribute(c.name, c.namespc)), c.value)
            << c.name << " in " << (c.namespc ? c.namespc : "(null)");
    }
}

TEST_F(ElementNode, NamespaceLookupsWalkUpAndKnowXml) {
    const KL_XmlElementNode* b = m_Root->GetChild("b", "*");
    EXPECT_EQ(ValueOf(b->GetNamespace()), "urn:d");
    EXPECT_EQ(ValueOf(b->GetNamespaceUri("p")), "urn:p");
    EXPECT_EQ(ValueOf(b->GetNamespaceUri("e")), "null") << "bound to the empty URI";
    EXPECT_EQ(ValueOf(b->GetNamespaceUri("q")), "null");
    EXPECT_EQ(ValueOf(b->GetNamespaceUri("xml")), "http://www.w3.org/XML/1998/namespace");
    EXPECT_EQ(ValueOf(m_Root->GetNamespacePrefix("urn:p")), "p");
    EXPECT_EQ(ValueOf(b->GetNamespacePrefix("urn:d")), "") << "the default namespace";
    EXPECT_EQ(b->GetNamespacePrefix("urn:none"), nullptr);
}

TEST(XmlElementNode, AttributesKeepTheirOrder) {
    KL_XmlElementNode element("e");
    ASSERT_EQ(element.AddAttribute("z", "1"), KL_SUCCESS);
    ASSERT_EQ(element.AddAttribute("p:b", "2"), KL_SUCCESS);
    ASSERT_EQ(element.SetAttribute("c", "3"), KL_SUCCESS);
    ASSERT_EQ(element.SetAttribute("z", "4"), KL_SUCCESS);
    ASSERT_EQ(element.SetAttribute("p", "b", "5"), KL_SUCCESS);
    ASSERT_EQ(element.SetAttribute("b", "6"), KL_SUCCESS) << "no prefix: another attribute";
    EXPECT_EQ(xmltest::Write(element), "<e z=\"4\" p:b=\"5\" c=\"3\" b=\"6\"/>");
}

TEST(XmlElementNode, NullArgumentsAreRefused) {
    KL_XmlElementNode element("e");
    EXPECT_EQ(element.AddChild(nullptr), KL_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(element.AddAttribute(nullptr, "v"), KL_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(element.AddAttribute("n", nullptr), KL_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(element.SetAttribute("n", nullptr), KL_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(element.SetAttribute(nullptr, nullptr, "v"), KL_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(element.GetChild(nullptr), nullptr);
    EXPECT_EQ(element.GetText(), nullptr);
    EXPECT_EQ(element.GetAttribute(nullptr), nullptr);
}

// A sub-tree built on its own takes the bindings of the element it is added to, and a binding
// added later to an ancestor reaches the elements below it.
TEST(XmlElementNode, NamespaceScopesFollowTheTree) {
    auto* inner = new KL_XmlElementNode("p", "inner");
    auto* middle = new KL_XmlElementNode("middle");
    ASSERT_EQ(middle->AddChild(inner), KL_SUCCESS);
    EXPECT_EQ(inner->GetNamespace(), nullptr);
    KL_XmlElementNode top("top");
    ASSERT_EQ(top.SetNamespaceUri("p", "urn:first"), KL_SUCCESS);
    ASSERT_EQ(top.AddChild(middle), KL_SUCCESS);
    EXPECT_EQ(ValueOf(inner->GetNamespace()), "urn:first");
    ASSERT_EQ(middle->SetNamespaceUri("p", "urn:second"), KL_SUCCESS);
    EXPECT_EQ(ValueOf(inner->GetNamespace()), "urn:second");
    ASSERT_EQ(middle->SetNamespaceUri("p", "urn:third"), KL_SUCCESS);
    EXPECT_EQ(ValueOf(inner->GetNamespace()), "urn:third");
    EXPECT_EQ(xmltest::Write(top),
              "<top xmlns:p=\"urn:first\"><middle xmlns:p=\"urn:third\"><p:inner/></middle></top>");
}

// Rebinding replaces in place, whether the map is searched in order or through its index.
TEST(XmlElementNode, ManyBindingsOnOneElement) {
    for (int count : {3, 8, 9, 100, 5000}) {
        KL_XmlElementNode element("e");
        std::string expected = "<e";
        for (int i = 0; i < count; ++i) {
            std::string prefix = "p" + std::to_string(i);
            ASSERT_EQ(element.SetNamespaceUri(prefix.c_str(), "urn:first"), KL_SUCCESS);
            expected += " xmlns:" + prefix + "=\"urn:" + std::to_string(i) + "\"";
        }
        for (int i = count - 1; i >= 0; --i) {
            std::string prefix = "p" + std::to_string(i);
            ASSERT_EQ(element.SetNamespaceUri(prefix.c_str(), ("urn:" + std::to_string(i)).c_str()),
                      KL_SUCCESS);
        }
        for (int i = 0; i < count; ++i) {
            std::string prefix = "p" + std::to_string(i);
            ASSERT_EQ(ValueOf(element.GetNamespaceUri(prefix.c_str())), "urn:" + std::to_string(i)) << count;
        }
        EXPECT_EQ(element.GetNamespaceUri("p"), nullptr);
        EXPECT_EQ(xmltest::Write(element), expected + "/>") << count;
    }
}

// 100,000 nested elements built by hand are written, and freed, without recursion.
TEST(XmlElementNode, DeepTreesAreWrittenAndFreedWithoutRecursion) {
    const int depth = 100000;
    auto* top = new KL_XmlElementNode("a");
    KL_XmlElementNode* current = top;
    for (int i = 1; i < depth; ++i) {
        auto* child = new KL_XmlElementNode("a");
        ASSERT_EQ(current->AddChild(child), KL_SUCCESS);
        current = child;
    }
    ASSERT_EQ(current->AddText("x"), KL_SUCCESS);
    ASSERT_EQ(top->SetNamespaceUri("p", "urn:p"), KL_SUCCESS);
    EXPECT_EQ(ValueOf(current->GetNamespaceUri("p")), "urn:p");
    std::string text = xmltest::Write(*top);
    EXPECT_EQ(text.size(), depth * 7u + 1 + std::string(" xmlns:p=\"urn:p\"").size());
    KL_StringOutputStream canonical(16);
    EXPECT_EQ(KL_XmlCanonicalWriter().Serialize(*top, canonical), KL_SUCCESS);
    EXPECT_EQ(canonical.GetString().GetLength(), text.size());
    delete top;
}

// Canonical form: bindings only where they change, sorted; attributes sorted; no short form.
TEST(XmlCanonicalWriter, WritesSortedAttributesAndChangedBindings) {
    const char input[] = "<r xmlns:b=\"urn:b\" xmlns=\"urn:d\" xmlns:a=\"urn:z\" z=\"1\" b:k=\"2\" a:k=\"3\" "
                         "b:j=\"4\" c:k=\"5\" m=\"6\"><s xmlns:a=\"urn:z\" xmlns:b=\"urn:c\"/>"
                         "<t xmlns=\"\"/></r>";
    KL_Result result = KL_SUCCESS;
    xmltest::Tree tree = xmltest::Parse(input, result);
    ASSERT_EQ(result, KL_SUCCESS);
    KL_StringOutputStream output(16);
    ASSERT_EQ(KL_XmlCanonicalWriter().Serialize(*tree->AsElementNode(), output), KL_SUCCESS);
    EXPECT_STREQ(output.GetString().GetChars(),
                 "<r xmlns=\"urn:d\" xmlns:a=\"urn:z\" xmlns:b=\"urn:b\" m=\"6\" z=\"1\" b:j=\"4\" b:k=\"2\" "
                 "a:k=\"3\"><s xmlns:b=\"urn:c\"></s><t xmlns=\"\"></t></r>");
}

TEST(XmlCanonicalWriter, CollectsTheBindingsASubTreeNeeds) {
    KL_Result result = KL_SUCCESS;
    xmltest::Tree tree =
        xmltest::Parse("<r xmlns=\"urn:d\" xmlns:p=\"urn:p\" xmlns:q=\"urn:q\" xmlns:u=\"urn:u\">"
                       "<s xmlns:q=\"urn:q2\"><p:t q:x=\"1\" xml:lang=\"en\"><u/></p:t>"
                       "<v xmlns:w=\"urn:w\" w:y=\"2\"/></s></r>",
                       result);
    ASSERT_EQ(result, KL_SUCCESS);
    KL_XmlElementNode* s = tree->AsElementNode()->GetChild("s", "*");
    ASSERT_EQ(KL_XmlCanonicalWriter::CollectNamespaces(*s), KL_SUCCESS);
    EXPECT_EQ(xmltest::Write(*s), "<s xmlns:q=\"urn:q2\" xmlns=\"urn:d\" xmlns:p=\"urn:p\"><p:t q:x=\"1\" "
                                  "xml:lang=\"en\"><u/></p:t><v w:y=\"2\" xmlns:w=\"urn:w\"/></s>");
}

} // namespace
