#pragma once

// The XML side of the WebDAV server: reading PROPFIND and LOCK bodies (libxml2) and the texts that
// go into its XML answers.

#include "WebServerTypes.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Properties a PROPFIND asks for, as bits.
inline constexpr int kWebDAVPropertyResourceType = 1;
inline constexpr int kWebDAVPropertyCreationDate = 2;
inline constexpr int kWebDAVPropertyLastModified = 4;
inline constexpr int kWebDAVPropertyContentLength = 8;
inline constexpr int kWebDAVPropertiesAll = 15;

// The properties a PROPFIND body asks for: all for "allprop" (and for an empty body), else those of
// its "prop" element that are known (each other name is handed to `unknownProperty`). None when the
// body is not a "propfind" document with an "allprop" or a "prop" child. Namespaces are ignored.
std::optional<int> WebDAVParsePropfindBody(const Data& body,
                                           const std::function<void(const std::string&)>& unknownProperty);

// What a LOCK body asks for; parts that are missing stay empty.
struct WebDAVLockInfo {
    std::string scope; // "exclusive" or "shared"
    std::string type;  // "write"
    std::string owner; // the text of the owner's href
};
// None when the body does not parse or has no "lockinfo" element at its top.
std::optional<WebDAVLockInfo> WebDAVParseLockInfo(const Data& body);

// Text for XML character data and attribute values: & < > " ' as entities.
std::string WebDAVEscapeXML(std::string_view text);
// A path as the href of a multistatus entry: percent-escapes, as UTF-8, every byte that may not
// stand in a URL path, and also "<&>?+" (so "%" and "#" too); "/" is kept.
std::string WebDAVEscapeHref(std::string_view path);
