#include "WebDAVXml.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <climits>
#include <cstring>
#include <memory>
#include <mutex>

namespace {

// Recover, no error and no warning reports, no blank nodes, no network, compact.
constexpr int kParseOptions = XML_PARSE_RECOVER | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                              XML_PARSE_NOBLANKS | XML_PARSE_NONET | XML_PARSE_COMPACT;
static_assert(kParseOptions == 67937);

struct DocumentDeleter {
    void operator()(xmlDoc* document) const { xmlFreeDoc(document); }
};
using Document = std::unique_ptr<xmlDoc, DocumentDeleter>;

Document readDocument(const Data& body) {
    static std::once_flag initialized;
    std::call_once(initialized, [] { xmlInitParser(); });
    if (body.empty() || body.size() > static_cast<std::size_t>(INT_MAX)) {
        return nullptr;
    }
    return Document(xmlReadMemory(reinterpret_cast<const char*>(body.data()), static_cast<int>(body.size()),
                                  nullptr, nullptr, kParseOptions));
}

bool isElementNamed(const xmlNode* node, const char* name) {
    return node->type == XML_ELEMENT_NODE && node->name &&
           std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

// The first element of that name among the node and its following siblings.
const xmlNode* findElement(const xmlNode* first, const char* name) {
    for (const xmlNode* node = first; node; node = node->next) {
        if (isElementNamed(node, name)) {
            return node;
        }
    }
    return nullptr;
}

std::string nodeName(const xmlNode* node) {
    return node && node->name ? reinterpret_cast<const char*>(node->name) : "";
}

std::string nodeContent(const xmlNode* node) {
    if (!node) {
        return {};
    }
    xmlChar* content = xmlNodeGetContent(node);
    std::string text = content ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    return text;
}

int propertyBit(const std::string& name) {
    if (name == "resourcetype") {
        return kWebDAVPropertyResourceType;
    }
    if (name == "creationdate") {
        return kWebDAVPropertyCreationDate;
    }
    if (name == "getlastmodified") {
        return kWebDAVPropertyLastModified;
    }
    if (name == "getcontentlength") {
        return kWebDAVPropertyContentLength;
    }
    return 0;
}

} // namespace

std::optional<int> WebDAVParsePropfindBody(const Data& body,
                                           const std::function<void(const std::string&)>& unknownProperty) {
    if (body.empty()) {
        return kWebDAVPropertiesAll;
    }
    const Document document = readDocument(body);
    if (!document) {
        return std::nullopt;
    }
    const xmlNode* propfind = findElement(document->children, "propfind");
    if (!propfind || !propfind->children) {
        return std::nullopt;
    }
    if (findElement(propfind->children, "allprop")) {
        return kWebDAVPropertiesAll;
    }
    const xmlNode* prop = findElement(propfind->children, "prop");
    if (!prop) {
        return std::nullopt;
    }
    int properties = 0;
    for (const xmlNode* node = prop->children; node; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) {
            continue;
        }
        const std::string name = nodeName(node);
        const int bit = propertyBit(name);
        if (bit == 0 && unknownProperty) {
            unknownProperty(name);
        }
        properties |= bit;
    }
    return properties;
}

std::optional<WebDAVLockInfo> WebDAVParseLockInfo(const Data& body) {
    const Document document = readDocument(body);
    if (!document) {
        return std::nullopt;
    }
    const xmlNode* lockinfo = findElement(document->children, "lockinfo");
    if (!lockinfo) {
        return std::nullopt;
    }
    WebDAVLockInfo info;
    if (const xmlNode* scope = findElement(lockinfo->children, "lockscope")) {
        info.scope = nodeName(scope->children);
    }
    if (const xmlNode* type = findElement(lockinfo->children, "locktype")) {
        info.type = nodeName(type->children);
    }
    if (const xmlNode* owner = findElement(lockinfo->children, "owner")) {
        if (const xmlNode* href = findElement(owner->children, "href")) {
            info.owner = nodeContent(href->children);
        }
    }
    return info;
}

namespace {

// The length of the well-formed UTF-8 sequence at `i` that is a character XML allows, else 0.
std::size_t xmlCharacterLength(std::string_view text, std::size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
        return lead >= 0x20 || lead == '\t' || lead == '\n' || lead == '\r' ? 1 : 0;
    }
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || i + length > text.size()) {
        return 0;
    }
    unsigned codePoint = lead & (length == 2 ? 0x1Fu : length == 3 ? 0x0Fu : 0x07u);
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        codePoint = (codePoint << 6) | (next & 0x3Fu);
    }
    const bool overlong = (length == 3 && codePoint < 0x800) || (length == 4 && codePoint < 0x10000);
    const bool excluded = (codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint == 0xFFFE ||
                          codePoint == 0xFFFF || codePoint > 0x10FFFF;
    return overlong || excluded ? 0 : length;
}

} // namespace

// Markup characters become references; bytes that are not UTF-8, and characters XML does not
// allow, become U+FFFD, so whatever a client sent, the document stays well-formed.
std::string WebDAVEscapeXML(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = xmlCharacterLength(text, i);
        if (length == 0) {
            escaped += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        if (length > 1) {
            escaped.append(text.substr(i, length));
            i += length;
            continue;
        }
        const char c = text[i++];
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\'':
            escaped += "&apos;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

std::string WebDAVEscapeHref(std::string_view path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    static constexpr std::string_view kKept = "-_.~/!$'()*,;=:@";
    std::string escaped;
    escaped.reserve(path.size());
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        const bool alphanumeric =
            (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9');
        if (alphanumeric || kKept.find(c) != std::string_view::npos) {
            escaped += c;
        } else {
            escaped += '%';
            escaped += kHex[byte >> 4];
            escaped += kHex[byte & 0x0F];
        }
    }
    return escaped;
}
