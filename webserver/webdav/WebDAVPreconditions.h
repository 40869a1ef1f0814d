#pragma once

// Conditional requests on the methods that change an item (PUT and DELETE): "If-Match",
// "If-Unmodified-Since" and "If-None-Match", evaluated before the method is performed against the
// item as a GET of the same path would describe it (its ETag and Last-Modified). The "If" header
// of lock tokens is not looked at: nothing is ever locked.

#include "WebServerTypes.h"

#include "foundation/FileSystem.h"

#include <optional>

namespace webdav_detail {

// True when the conditions of the request hold for the item (none: nothing is at the path). In
// the order of RFC 9110 §13.2.2: If-Match (else If-Unmodified-Since), then If-None-Match.
bool preconditionsHold(const HeaderDictionary& headers, const std::optional<platform::FileStatus>& item);

// "If-Range": true without it, or when it names the file as it is now (its ETag, or exactly its
// Last-Modified date). When false the Range header is ignored and the whole file is sent, so a
// client never joins pieces of two versions of a file.
bool rangeConditionHolds(const HeaderDictionary& headers, const platform::FileStatus& file);

// "If-None-Match: *": the request may only create, never replace.
bool createsOnly(const HeaderDictionary& headers);

} // namespace webdav_detail
