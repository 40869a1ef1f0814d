#pragma once

#include "WebServerTypes.h"

#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct sockaddr;
class WebServerResponse;

// Prepares the shared date formatters once per process (called by the server; safe to call again).
void InitializeServerFunctions();

// "Sun, 06 Nov 1994 08:49:37 GMT".
std::string FormatRFC822Date(Date date);
std::optional<Date> ParseRFC822Date(const std::string& text);
// A date of a request header, in any of the three forms RFC 9110 §5.6.7 has every recipient read:
// "Sun, 06 Nov 1994 08:49:37 GMT", the obsolete "Sunday, 06-Nov-94 08:49:37 GMT" (a two-digit year
// more than 50 years ahead is taken from the century before) and asctime's
// "Sun Nov  6 08:49:37 1994".
std::optional<Date> ParseHTTPDate(const std::string& text);

// "2014-03-01T12:00:00+00:00".
std::string FormatISO8601Date(Date date);
std::optional<Date> ParseISO8601Date(const std::string& text);

// Whether an entity-tag list (the value of "If-Match", "If-None-Match" or "If-Range") names the
// ETag: its members quoted or bare (the server sends its ETags bare, and clients echo them either
// way), split at commas outside quotes. Compared strongly, a weak member ("W/...") never matches;
// compared weakly, only the opaque parts are compared. "*" is the caller's to read.
bool EntityTagListMatches(std::string_view list, std::string_view eTag, bool strong);
// The list is "*" (any current version), blanks around it allowed.
bool IsAnyEntityTag(std::string_view list);
// The text without the spaces and tabs around it (a header's optional whitespace).
std::string_view TrimOptionalWhitespace(std::string_view text);

// The part before the first ";" lower-cased, followed by the rest unchanged.
std::optional<std::string> NormalizeHeaderValue(const std::optional<std::string>& value);
std::string NormalizeHeaderValue(const std::string& value);

// The one byte range of a "Range" value, as RFC 9110 §14.1.2 writes it: "bytes=FIRST-LAST",
// "bytes=FIRST-" or "bytes=-SUFFIX" in decimal digits (the unit in any case, blanks after "=").
// Anything else is no range, so the whole item is sent: several ranges, a last position before the
// first, "bytes=-0", and values that only a lenient number reading takes for a range
// ("bytes=0x0-0x5", "bytes=+1-2", "bytes=1-2x").
WebServerRange ParseByteRange(std::string_view value);

// The value of `name=` inside a header value ("multipart/form-data; boundary=x" → "x"); quoted
// values lose their quotes. None when absent or when the value begins with the name.
std::optional<std::string> ExtractHeaderValueParameter(const std::string& value, const std::string& name);
// An "Authorization" value: the scheme lower-cased, and its parameters by lower-cased name (names
// only at parameter boundaries, quoted strings with their escapes undone; the first of a repeated
// name wins). Basic's credentials are kept under the name "". None when it is malformed.
std::optional<std::pair<std::string, std::map<std::string, std::string>>>
ParseAuthorizationHeader(std::string_view value);

// Replaces percent escapes, read as UTF-8; none when an escape or the resulting text is invalid.
std::optional<std::string> UnescapeURLString(const std::string& text);

// "a=1+2&b=%41" → {a: "1 2", b: "A"}.
QueryDictionary ParseURLEncodedForm(const std::string& text);

// Numeric host (and with includePort "host:port") of a socket address; none when it fails.
std::optional<std::string> StringFromSockAddr(const sockaddr* address, bool includePort);

// The address of the primary network interface ("lo" when there is no default route).
std::optional<std::string> PrimaryIPAddress(bool useIPv6);

// MD5 as 32 lower-case hex digits of the text that `format` gives with each "%@" replaced by the
// next argument in turn.
std::string MD5HexOfFormat(std::string_view format, std::initializer_list<std::string_view> arguments);

// Replaces each "%@" of `format` by the next argument in turn.
std::string StringWithFormat(std::string_view format, std::initializer_list<std::string_view> arguments);

// The value of a header field (names compared without regard to case), or nullptr.
const std::string* HeaderValue(const HeaderDictionary& headers, std::string_view name);

// ---- Text, types and URLs ----

// The check of every route that names a new item (upload, PUT, MKCOL, COPY, MOVE, and the file
// manager's create and move; those that name it by its path through RefusedItemPath), before
// anything is stored: a name over 255 bytes, not UTF-8, or holding a control character gets 400
// with a plain message, "<subject> \"%@\" is too long", "... is not UTF-8 text" or "... holds a
// control character" (the name shown with its control characters, and the bytes beyond ASCII of a
// name that is not UTF-8, as %XX). None for another name.
std::shared_ptr<WebServerResponse> RefusedItemName(const std::string& name, std::string_view subject);
// The check of the whole path of a new item (or of the folder an upload goes to): one holding a
// NUL, which no path can hold, gets 400 "Path \"%@\" holds a control character" (shown as
// RefusedItemName shows names). None for another path.
std::shared_ptr<WebServerResponse> RefusedPath(const std::string& path);
// Both checks for a new item named by its path: RefusedItemName of its last component, then
// RefusedPath.
std::shared_ptr<WebServerResponse> RefusedItemPath(const std::string& path, std::string_view subject);
// The 400 for a name too long for the file system, as RefusedItemName words it: also for a name
// that only becomes too long once it is numbered to be free.
std::shared_ptr<WebServerResponse> TooLongItemName(const std::string& name, std::string_view subject);

// A text encoding, named by its canonical charset name ("UTF-8", "ISO-8859-1", ...).
using TextEncoding = std::string;

// The part before the first ";" (the whole text when there is none); no case change, no trimming.
std::string TruncateHeaderValue(const std::string& value);
// The encoding registered under an IANA charset name; UTF-8 for none or an unknown name.
TextEncoding StringEncodingFromCharset(const std::optional<std::string>& charset);
// Decodes bytes strictly; none when they are not valid in that encoding.
std::optional<std::string> StringFromData(const Data& data, const TextEncoding& encoding);
// True for "text/...", "application/json..." and "application/xml...".
bool IsTextContentType(const std::string& type);
// The text of a textual body (decoded with its charset), else "<N bytes>". For descriptions only.
std::string DescribeBodyData(const Data& data, const std::string& type);
// The MIME type of a file extension ("css" → "text/css"); "application/octet-stream" when unknown.
std::string MimeTypeForExtension(const std::string& extension);
// Percent-escapes, as UTF-8, every character not allowed in a URL and each of ":@/?&=+", "%" and "#".
std::string EscapeURLString(const std::string& text);
