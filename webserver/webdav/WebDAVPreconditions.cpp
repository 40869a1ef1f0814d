#include "WebDAVPreconditions.h"

#include "WebServerFileResponse.h"
#include "WebServerFunctions.h"

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace webdav_detail {

namespace {

struct EntityTag {
    bool weak = false;
    std::string opaque; // without quotes
};

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

std::string_view withoutQuotes(std::string_view text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        text = text.substr(1, text.size() - 2);
    }
    return text;
}

// The members of an entity-tag list, split at commas outside quotes. The server sends its ETags
// without quotes, so a client may echo them either way: both are taken.
std::vector<EntityTag> entityTags(std::string_view list) {
    std::vector<EntityTag> tags;
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= list.size(); ++i) {
        if (i < list.size() && list[i] == '"') {
            quoted = !quoted;
        }
        if (i < list.size() && (list[i] != ',' || quoted)) {
            continue;
        }
        std::string_view member = trimmed(list.substr(start, i - start));
        start = i + 1;
        EntityTag tag;
        if (member.size() >= 2 && member[0] == 'W' && member[1] == '/') {
            tag.weak = true;
            member.remove_prefix(2);
        }
        tag.opaque = std::string(withoutQuotes(member));
        if (!tag.opaque.empty()) {
            tags.push_back(std::move(tag));
        }
    }
    return tags;
}

bool isAnyTag(const std::string& value) {
    return trimmed(value) == "*";
}

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
    if (isAnyTag(value)) {
        return true;
    }
    const auto current = eTagOf(item);
    for (const EntityTag& tag : entityTags(value)) {
        if (current && !tag.weak && tag.opaque == withoutQuotes(*current)) {
            return true;
        }
    }
    return false;
}

// If-None-Match: nothing is there for "*"; otherwise none of the tags is its ETag (compared
// weakly).
bool ifNoneMatchHolds(const std::string& value, const std::optional<platform::FileStatus>& item) {
    if (!item) {
        return true;
    }
    if (isAnyTag(value)) {
        return false;
    }
    const auto current = eTagOf(item);
    for (const EntityTag& tag : entityTags(value)) {
        if (current && tag.opaque == withoutQuotes(*current)) {
            return false;
        }
    }
    return true;
}

// If-Unmodified-Since: ignored without a valid date or for an item without a modification date
// (missing, or a folder: GET sends no Last-Modified for it); dates compare in whole seconds.
bool ifUnmodifiedSinceHolds(const std::string& value, const std::optional<platform::FileStatus>& item) {
    const auto date = ParseRFC822Date(value);
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
    if (const auto date = ParseRFC822Date(*ifRange)) {
        // A date in whole seconds tells versions apart only once that second is over.
        const auto modified = std::chrono::floor<std::chrono::seconds>(file.modificationTime.date());
        return modified == *date && modified + std::chrono::seconds(1) <= std::chrono::system_clock::now();
    }
    const std::vector<EntityTag> tags = entityTags(*ifRange);
    return tags.size() == 1 && !tags.front().weak &&
           tags.front().opaque == WebServerFileResponse::eTagForStatus(file);
}

bool createsOnly(const HeaderDictionary& headers) {
    const std::string* ifNoneMatch = HeaderValue(headers, "If-None-Match");
    return ifNoneMatch && isAnyTag(*ifNoneMatch);
}

} // namespace webdav_detail
