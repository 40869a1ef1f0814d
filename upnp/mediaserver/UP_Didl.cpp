// UP_Didl: filter masks, the XML-safe text writer, duration texts and the DIDL-Lite reader.
#include "UP_Didl.h"

#include "KL_Log.h"
#include "KL_Utils.h"
#include "KL_XmlElementNode.h"
#include "KL_XmlNode.h"
#include "KL_XmlParser.h"
#include "UP_MediaContainer.h"
#include "UP_MediaItem.h"
#include "UP_XmlHelper.h"

#include <cstring>
#include <memory>

KL_SET_LOCAL_LOGGER("upnp.media.didl");

namespace {

struct FilterName {
    const char* m_Name;
    uint32_t m_Bits;
};

// Tested in this order: a token matches the first name it is a prefix of.
constexpr FilterName kFilterNames[] = {
    {"dc:title", UP_FILTER_MASK_TITLE},
    {"@refID", UP_FILTER_MASK_REFID},
    {"dc:creator", UP_FILTER_MASK_CREATOR},
    {"upnp:artist", UP_FILTER_MASK_ARTIST},
    {"upnp:actor", UP_FILTER_MASK_ACTOR},
    {"upnp:author", UP_FILTER_MASK_AUTHOR},
    {"dc:date", UP_FILTER_MASK_DATE},
    {"upnp:album", UP_FILTER_MASK_ALBUM},
    {"upnp:genre", UP_FILTER_MASK_GENRE},
    {"upnp:albumArtURI", UP_FILTER_MASK_ALBUMARTURI},
    {"upnp:albumArtURI@dlna:profileID", UP_FILTER_MASK_ALBUMARTURI},
    {"dc:description", UP_FILTER_MASK_DESCRIPTION},
    {"upnp:originalTrackNumber", UP_FILTER_MASK_ORIGINALTRACK},
    {"@searchable", UP_FILTER_MASK_SEARCHABLE},
    {"upnp:searchClass", UP_FILTER_MASK_SEARCHCLASS},
    {"container@searchable", UP_FILTER_MASK_SEARCHABLE},
    {"@childcount", UP_FILTER_MASK_CHILDCOUNT},
    {"container@childCount", UP_FILTER_MASK_CHILDCOUNT},
    {"upnp:programTitle", UP_FILTER_MASK_PROGRAMTITLE},
    {"upnp:seriesTitle", UP_FILTER_MASK_SERIESTITLE},
    {"upnp:episodeNumber", UP_FILTER_MASK_EPISODE},
    {"res", UP_FILTER_MASK_RES},
    {"res@duration", UP_FILTER_MASK_RES | UP_FILTER_MASK_RES_DURATION},
    {"@duration", UP_FILTER_MASK_RES | UP_FILTER_MASK_RES_DURATION},
    {"res@size", UP_FILTER_MASK_RES | UP_FILTER_MASK_RES_SIZE},
    {"res@protection", UP_FILTER_MASK_RES | UP_FILTER_MASK_RES_PROTECTION},
    {"res@resolution", UP_FILTER_MASK_RES | UP_FILTER_MASK_RES_RESOLUTION},
    {"res@bitrate", UP_FILTER_MASK_RES | UP_FILTER_MASK_RES_BITRATE},
    {"res@bitsPerSample", UP_FILTER_MASK_RES | UP_FILTER_MASK_RES_BITSPERSAMPLE},
    {"res@nrAudioChannels", UP_FILTER_MASK_RES | UP_FILTER_MASK_RES_NRAUDIOCHANNELS},
    {"res@sampleFrequency", UP_FILTER_MASK_RES | UP_FILTER_MASK_RES_SAMPLEFREQUENCY},
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

uint32_t TokenBits(const char* token, size_t length) {
    for (const FilterName& name : kFilterNames) {
        // Over the token's own length; the name's terminator ends a longer token's match.
        if (KL_CompareStringsN(name.m_Name, token, KL_Size(length), true) == 0) {
            return name.m_Bits;
        }
    }
    return 0;
}

constexpr char kReplacement[] = "\xEF\xBF\xBD"; // U+FFFD

// Length of the well-formed UTF-8 sequence at text (1 to 4), or 0 for an ill-formed one; *bad is
// the number of bytes the ill-formed start spans (its maximal valid prefix, at least 1).
size_t Utf8SequenceLength(const unsigned char* text, size_t available, size_t* bad) {
    unsigned char c = text[0];
    size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        low = c == 0xE0 ? 0xA0 : 0x80;
        high = c == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        low = c == 0xF0 ? 0x90 : 0x80;
        high = c == 0xF4 ? 0x8F : 0xBF;
    }
    *bad = 1;
    if (length == 0) {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        unsigned char lo = i == 1 ? low : 0x80;
        unsigned char hi = i == 1 ? high : 0xBF;
        if (i >= available || text[i] < lo || text[i] > hi) {
            *bad = i;
            return 0;
        }
    }
    // U+FFFE and U+FFFF are not XML characters.
    if (length == 3 && c == 0xEF && text[1] == 0xBF && text[2] >= 0xBE) {
        *bad = 3;
        return 0;
    }
    return length;
}

const char* EscapeFor(unsigned char c) {
    switch (c) {
    case '"':
        return "&quot;";
    case '&':
        return "&amp;";
    case '\'':
        return "&apos;";
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    case '\t':
        return "&#9;";
    case '\n':
        return "&#10;";
    case '\r':
        return "&#13;";
    default:
        return c < 0x20 ? kReplacement : nullptr;
    }
}

// Printable ASCII other than the five markup characters goes out as it is.
struct SafeBytes {
    bool m_Safe[256];
};

constexpr SafeBytes MakeSafeBytes() {
    SafeBytes bytes{};
    for (int c = 0x20; c < 0x80; ++c) {
        bytes.m_Safe[c] = c != '"' && c != '&' && c != '\'' && c != '<' && c != '>';
    }
    return bytes;
}

constexpr SafeBytes kSafeBytes = MakeSafeBytes();

void AppendSafe(KL_String& out, const char* text, size_t size) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    size_t run = 0; // start of the bytes not yet appended
    size_t i = 0;
    while (i < size) {
        unsigned char c = bytes[i];
        if (kSafeBytes.m_Safe[c]) {
            ++i;
            continue;
        }
        const char* replacement = nullptr;
        size_t consumed = 1;
        if (c < 0x80) {
            replacement = EscapeFor(c);
        } else {
            size_t bad = 1;
            size_t length = Utf8SequenceLength(bytes + i, size - i, &bad);
            if (length == 0) {
                replacement = kReplacement;
                consumed = bad;
            } else {
                consumed = length;
            }
        }
        if (replacement != nullptr) {
            out.Append(text + run, KL_Size(i - run));
            out.Append(replacement);
            run = i + consumed;
        }
        i += consumed;
    }
    out.Append(text + run, KL_Size(size - run));
}

bool ParseNumberBefore(KL_String& text, uint32_t& value, KL_Result& result) {
    int colon = text.ReverseFind(':');
    if (colon < 0) {
        result = KL_FAILURE;
        return false;
    }
    result = KL_ParseInteger32U(text.GetChars() + colon + 1, value, true);
    if (KL_FAILED(result)) {
        return false;
    }
    text = text.Left(KL_Size(colon));
    return true;
}

UP_MediaObject* NewObjectFor(const KL_XmlElementNode& element) {
    if (element.GetTag().Compare("container", true) == 0) {
        return new UP_MediaContainer();
    }
    if (element.GetTag().Compare("item", true) == 0) {
        return new UP_MediaItem();
    }
    return nullptr;
}

} // namespace

uint32_t UP_Didl::FilterToMask(const char* filter) {
    if (filter == nullptr || filter[0] == '\0') {
        return UP_FILTER_MASK_ALL;
    }
    uint32_t mask = 0;
    const char* token = filter;
    while (*token != '\0') {
        const char* end = std::strchr(token, ',');
        if (end == nullptr) {
            end = token + std::strlen(token);
        }
        const char* first = token;
        const char* last = end;
        while (first < last && IsBlank(*first)) {
            ++first;
        }
        while (last > first && IsBlank(last[-1])) {
            --last;
        }
        if (first < last && *first == '*') {
            return UP_FILTER_MASK_ALL;
        }
        mask |= UP_FILTER_MASK_TITLE;
        if (first < last) {
            mask |= TokenBits(first, size_t(last - first));
        }
        if (*end == '\0') {
            break;
        }
        token = end + 1; // a trailing comma ends the walk here
    }
    return mask;
}

void UP_Didl::AppendEscapedXml(KL_String& out, const char* text) {
    if (text != nullptr && text[0] != '\0') {
        AppendSafe(out, text, std::strlen(text));
    }
}

void UP_Didl::AppendEscapedXml(KL_String& out, const KL_String& text) {
    if (!text.IsEmpty()) {
        AppendSafe(out, text.GetChars(), text.GetLength());
    }
}

void UP_Didl::AppendUnescapedXml(KL_String& out, const char* text) {
    static constexpr struct {
        const char* m_Escape;
        char m_Char;
    } kEscapes[] = {{"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}};
    if (text == nullptr) {
        return;
    }
    const char* run = text;
    for (const char* p = text; *p != '\0';) {
        bool replaced = false;
        if (*p == '&') {
            for (const auto& escape : kEscapes) {
                size_t length = std::strlen(escape.m_Escape);
                if (std::strncmp(p, escape.m_Escape, length) == 0) {
                    out.Append(run, KL_Size(p - run));
                    out += escape.m_Char;
                    p += length;
                    run = p;
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced) {
            ++p;
        }
    }
    out.Append(run);
}

KL_String UP_Didl::FormatTimeText(uint32_t seconds) {
    KL_String text;
    if (seconds > 3599) {
        text = KL_String::FromIntegerU(seconds / 3600);
        text += ':';
    } else {
        text = "0:";
    }
    text += KL_String::Format("%02u:%02u.000", unsigned(seconds / 60 % 60), unsigned(seconds % 60));
    return text;
}

KL_Result UP_Didl::ParseTimeStamp(const KL_String& text, uint32_t& seconds) {
    seconds = 0;
    KL_String rest = text;
    int dot = rest.ReverseFind('.');
    if (dot >= 0) {
        rest = rest.Left(KL_Size(dot));
    }
    uint32_t secs = 0;
    uint32_t minutes = 0;
    uint32_t hours = 0;
    KL_Result result = KL_SUCCESS;
    if (!ParseNumberBefore(rest, secs, result) || !ParseNumberBefore(rest, minutes, result)) {
        return result;
    }
    result = KL_ParseInteger32U(rest.GetChars(), hours, true);
    if (KL_FAILED(result)) {
        return result;
    }
    uint64_t total = uint64_t(hours) * 3600 + uint64_t(minutes) * 60 + secs;
    if (total >= 0xFFFFFFFFull) { // all ones means "not known"
        return KL_ERROR_OUT_OF_RANGE;
    }
    seconds = uint32_t(total);
    return KL_SUCCESS;
}

KL_Result UP_Didl::ToDidl(UP_MediaObject& object, const char* filter, KL_String& didl) {
    uint32_t mask = FilterToMask(filter);
    if (didl.GetCapacity() < didl.GetLength() + 2048) {
        (void)didl.Reserve(didl.GetLength() + 2048); // only a hint: Append grows on its own
    }
    return object.ToDidl(mask, didl);
}

KL_Result UP_Didl::FromDidl(const char* xml, UP_MediaObjectListReference& objects) {
    objects = UP_MediaObjectListReference();
    KL_XmlNode* node = nullptr;
    KL_XmlParser parser(true);
    KL_Result result = parser.Parse(xml ? xml : "", node);
    std::unique_ptr<KL_XmlNode> tree(node);
    const KL_XmlElementNode* root = tree ? tree->AsElementNode() : nullptr;
    if (KL_FAILED(result) || root == nullptr || root->GetTag().Compare("DIDL-Lite", true) != 0) {
        return KL_FAILURE;
    }
    objects = UP_MediaObjectListReference(new UP_MediaObjectList());
    for (KL_XmlNode* child : root->GetChildren()) {
        KL_XmlElementNode* element = child->AsElementNode();
        if (element == nullptr) {
            continue;
        }
        std::unique_ptr<UP_MediaObject> object(NewObjectFor(*element));
        if (!object) {
            KL_LOG_WARNING("Invalid node tag");
            continue;
        }
        if (KL_FAILED(object->FromDidl(element))) {
            KL_LOG_WARNING("Invalid didl for object: %s", UP_XmlHelper::Serialize(*element).GetChars());
            continue;
        }
        if (KL_SUCCEEDED(objects->Add(object.get()))) {
            object.release();
        }
    }
    return KL_SUCCESS;
}
