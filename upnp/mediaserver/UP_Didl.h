// UP_Didl: the DIDL-Lite helpers of the media server: the Browse/Search filter as a property mask,
// the one XML-safe text writer every DIDL text and attribute goes through, the duration text, and
// the writer and reader of whole objects.
//
//   KL_String result = UP_DIDL_HEADER;
//   for (each object) (void)UP_Didl::ToDidl(*object, filter, result);
//   result += UP_DIDL_FOOTER;
//
// The writer never fails and always produces well-formed XML 1.0: besides the five markup escapes
// it writes tab, line feed and carriage return as character references (so attribute values and
// texts come back byte-exact), and every byte sequence that is not UTF-8 or a character XML 1.0
// does not allow as U+FFFD.
#pragma once

#include "KL_Result.h"
#include "KL_String.h"
#include "UP_MediaObjectList.h"

#include <cstdint>

class UP_MediaObject;

// Property bits of a filter mask.
constexpr uint32_t UP_FILTER_MASK_ALL = 0xFFFFFFFFu;
constexpr uint32_t UP_FILTER_MASK_CREATOR = 0x1;
constexpr uint32_t UP_FILTER_MASK_ARTIST = 0x2;
constexpr uint32_t UP_FILTER_MASK_ALBUM = 0x4;
constexpr uint32_t UP_FILTER_MASK_GENRE = 0x8;
constexpr uint32_t UP_FILTER_MASK_ALBUMARTURI = 0x10;
constexpr uint32_t UP_FILTER_MASK_DESCRIPTION = 0x20;
constexpr uint32_t UP_FILTER_MASK_SEARCHABLE = 0x40;
constexpr uint32_t UP_FILTER_MASK_CHILDCOUNT = 0x80;
constexpr uint32_t UP_FILTER_MASK_ORIGINALTRACK = 0x100;
constexpr uint32_t UP_FILTER_MASK_ACTOR = 0x200;
constexpr uint32_t UP_FILTER_MASK_AUTHOR = 0x400;
constexpr uint32_t UP_FILTER_MASK_DATE = 0x800;
constexpr uint32_t UP_FILTER_MASK_PROGRAMTITLE = 0x1000;
constexpr uint32_t UP_FILTER_MASK_SERIESTITLE = 0x2000;
constexpr uint32_t UP_FILTER_MASK_EPISODE = 0x4000;
constexpr uint32_t UP_FILTER_MASK_TITLE = 0x8000;
constexpr uint32_t UP_FILTER_MASK_RES = 0x10000;
constexpr uint32_t UP_FILTER_MASK_RES_DURATION = 0x20000;
constexpr uint32_t UP_FILTER_MASK_RES_SIZE = 0x40000;
constexpr uint32_t UP_FILTER_MASK_RES_PROTECTION = 0x80000;
constexpr uint32_t UP_FILTER_MASK_RES_RESOLUTION = 0x100000;
constexpr uint32_t UP_FILTER_MASK_RES_BITRATE = 0x200000;
constexpr uint32_t UP_FILTER_MASK_RES_BITSPERSAMPLE = 0x400000;
constexpr uint32_t UP_FILTER_MASK_RES_NRAUDIOCHANNELS = 0x800000;
constexpr uint32_t UP_FILTER_MASK_RES_SAMPLEFREQUENCY = 0x1000000;
constexpr uint32_t UP_FILTER_MASK_LONGDESCRIPTION = 0x2000000; // also upnp:toc
constexpr uint32_t UP_FILTER_MASK_SEARCHCLASS = 0x4000000;     // also upnp:icon
constexpr uint32_t UP_FILTER_MASK_REFID = 0x8000000;

// The DIDL-Lite frame around written objects.
#define UP_DIDL_NAMESPACE "urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/"
#define UP_DIDL_NAMESPACE_DC "http://purl.org/dc/elements/1.1/"
#define UP_DIDL_NAMESPACE_UPNP "urn:schemas-upnp-org:metadata-1-0/upnp/"
#define UP_DIDL_NAMESPACE_DLNA "urn:schemas-dlna-org:metadata-1-0/"
inline constexpr const char UP_DIDL_HEADER[] =
    "<DIDL-Lite xmlns=\"" UP_DIDL_NAMESPACE "\" xmlns:dc=\"" UP_DIDL_NAMESPACE_DC
    "\" xmlns:upnp=\"" UP_DIDL_NAMESPACE_UPNP "\" xmlns:dlna=\"" UP_DIDL_NAMESPACE_DLNA "\">";
inline constexpr const char UP_DIDL_FOOTER[] = "</DIDL-Lite>";

class UP_Didl {
public:
    // The mask of a comma-separated filter: null, empty or a token starting with "*" → all bits;
    // otherwise title plus the bits of each known token (blanks around tokens ignored; a token
    // matches the first property name it is a prefix of, ignoring case).
    static uint32_t FilterToMask(const char* filter);

    // Appends text XML-safe: " & ' < > as &quot; &amp; &apos; &lt; &gt;, tab, LF and CR as
    // character references, invalid UTF-8 and characters XML 1.0 forbids as U+FFFD. Null or
    // empty appends nothing.
    static void AppendEscapedXml(KL_String& out, const char* text);
    static void AppendEscapedXml(KL_String& out, const KL_String& text);
    // The inverse of the five markup escapes (case-sensitive); everything else is copied.
    static void AppendUnescapedXml(KL_String& out, const char* text);

    // H:MM:SS.000 ("0:00:59.000", "1:02:05.000").
    static KL_String FormatTimeText(uint32_t seconds);
    // "H:M:S[.fraction]" to seconds; -1 without the two ":", a number's parse failure otherwise.
    static KL_Result ParseTimeStamp(const KL_String& text, uint32_t& seconds);

    // Appends the object's fragment (no DIDL-Lite frame) for a filter text. Never fails.
    static KL_Result ToDidl(UP_MediaObject& object, const char* filter, KL_String& didl);
    // Reads a DIDL-Lite document: -1 (and a null reference) when it is not one; otherwise a new
    // list with every item and container that reads (the others are logged and left out).
    static KL_Result FromDidl(const char* xml, UP_MediaObjectListReference& objects);
};
