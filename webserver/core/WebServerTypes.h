#pragma once

#include "foundation/CaseInsensitive.h"
#include "foundation/Data.h"
#include "foundation/Error.h"
#include "foundation/Url.h"

#include <cstdint>
#include <limits>
#include <map>
#include <string>

// Value types shared by the web server's classes.
using Data = platform::Data;
using Date = platform::Date;
using Error = platform::Error;
using Url = platform::Url;
using HeaderDictionary = platform::HeaderDictionary;
// Query arguments and form fields.
using QueryDictionary = std::map<std::string, std::string>;

// An unknown length, and the "not set" end of a byte range.
inline constexpr std::uint64_t kWebServerNotFound = std::numeric_limits<std::uint64_t>::max();

// A byte range of a request: (location, length); (kWebServerNotFound, 0) when none was asked for.
struct WebServerRange {
    std::uint64_t location = kWebServerNotFound;
    std::uint64_t length = 0;
    bool operator==(const WebServerRange&) const = default;
};
