#include "WebDAVPreconditions.h"

#include "WebServerFileResponse.h"
#include "WebServerFunctions.h"

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace webdav_detail {

namespace {

// The ETag a GET of the item sends: files have one, folders none.
std::optional<std::string> eTagOf(const std::optional<platform::FileStatus>& item) {
    if (!item || !item->isRegularFile()) {
        return std::nullopt;
    }
    return WebServerFileResponse::eTagForStatus(*item);
}

// If-Match: the item exists and ("*" or one of the tags is its ETag, compared strongly).
bool ifMatchHolds(const std::string& value, const std::optional<platform::FileStatus>& item) {
    if (!item) {
        return false;
    }
    if (IsAnyEntityTag(value)) {
        return true;
    }
    const auto current = eTagOf(item);
    return current && EntityTagListMatches(value, *current, true);
}

// If-None-Match: nothing is there for "*"; otherwise none of the tags is its ETag (compared
// weakly).
bool ifNoneMatchHolds(const std::string& value, const std::optional<platform::FileStatus>& item) {
    if (!item) {
        return true;
    }
    if (IsAnyEntityTag(value)) {
        return false;
    }
    const auto current = eTagOf(item);
    return !current || !EntityTagListMatches(value, *current, false);
}

// If-Unmodified-Since: ignored without a valid date or for an item without a modification date
// (missing, or a folder: GET sends no Last-Modified for it); dates compare in whole seconds.
bool ifUnmodifiedSinceHolds(const std::string& value, const std::optional<platform::FileStatus>& item) {
    const auto date = ParseHTTPDate(value);
    if (!date || !item || !item->isRegularFile()) {
        return true;
    }
    return std::chrono::floor<std::chrono::seconds>(item->modificationTime.date()) <= *date;
}

} // namespace

bool preconditionsHold(const HeaderDictionary& headers, const std::optional<platform::FileStatus>& item) {
    if (const std::string* ifMatch = HeaderValue(headers, "If-Match")) {
        if (!ifMatchHolds(*ifMatch, item)) {
            return false;
        }
    } else if (const std::string* since = HeaderValue(headers, "If-Unmodified-Since")) {
        if (!ifUnmodifiedSinceHolds(*since, item)) {
            return false;
        }
    }
    const std::string* ifNoneMatch = HeaderValue(headers, "If-None-Match");
    return !ifNoneMatch || ifNoneMatchHolds(*ifNoneMatch, item);
}

bool rangeConditionHolds(const HeaderDictionary& headers, const platform::FileStatus& file) {
    const std::string* ifRange = HeaderValue(headers, "If-Range");
    if (!ifRange) {
        return true;
    }
    if (const auto date = ParseHTTPDate(*ifRange)) {
        // A date in whole seconds tells versions apart only once that second is over.
        const auto modified = std::chrono::floor<std::chrono::seconds>(file.modificationTime.date());
        return modified == *date && modified + std::chrono::seconds(1) <= std::chrono::system_clock::now();
    }
    // One strong tag only: a list is not an If-Range value.
    const auto eTag = WebServerFileResponse::eTagForStatus(file);
    return ifRange->find(',') == std::string::npos && EntityTagListMatches(*ifRange, eTag, true);
}

bool createsOnly(const HeaderDictionary& headers) {
    const std::string* ifNoneMatch = HeaderValue(headers, "If-None-Match");
    return ifNoneMatch && IsAnyEntityTag(*ifNoneMatch);
}

} // namespace webdav_detail
