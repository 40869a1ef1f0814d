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

std::string WebDAVEscapeXML(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
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
