#include "KL_XmlSerializer.h"

#include "KL_Check.h"
#include "KL_OutputStream.h"

#include <cstring>

KL_SET_LOCAL_LOGGER("keel.xml");

const char* const KL_XmlSerializer::XmlDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";

namespace {

// The length of the well-formed UTF-8 sequence at p (lead byte 0x80 or above), 0 when the bytes
// there are not one. The text ends at a NUL, which is never a continuation byte.
int Utf8SequenceLength(const uint8_t* p) {
    uint8_t c = p[0];
    int length = 0;
    uint8_t low = 0x80, high = 0xBF; // the allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        low = c == 0xE0 ? 0xA0 : 0x80;
        high = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        low = c == 0xF0 ? 0x90 : 0x80;
        high = c == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (p[1] < low || p[1] > high) {
        return 0;
    }
    for (int i = 2; i < length; ++i) {
        if (p[i] < 0x80 || p[i] > 0xBF) {
            return 0;
        }
    }
    return length;
}

// U+FFFE and U+FFFF are well-formed UTF-8 but no XML characters.
bool IsNonCharacter(const uint8_t* p, int length) {
    return length == 3 && p[0] == 0xEF && p[1] == 0xBF && (p[2] == 0xBE || p[2] == 0xBF);
}

// What WriteEscaped does with each byte: keep it, replace it (an index into kReplacements), or
// check the UTF-8 sequence it starts.
enum : uint8_t { kKeep = 0, kAmp, kLt, kGt, kQuot, kCr, kTab, kLf, kReplace, kUtf8 };

// Each text is padded to kReplacementRoom bytes, so that it is copied as one fixed-size block.
constexpr size_t kReplacementRoom = 8;

struct Replacement {
    char m_Text[kReplacementRoom];
    size_t m_Length;
};

constexpr Replacement kReplacements[] = {{"", 0},      {"&amp;", 5},  {"&lt;", 4},
                                         {"&gt;", 4},  {"&quot;", 6}, {"&#xD;", 5},
                                         {"&#x9;", 5}, {"&#xA;", 5},  {"\xEF\xBF\xBD", 3}}; // U+FFFD

struct EscapeTable {
    uint8_t m_Action[256];
};

// Text keeps '"', tab and line feed; an attribute value keeps '>'. Both replace '&', '<', carriage
// return and the other control characters.
constexpr EscapeTable MakeEscapeTable(bool attribute) {
    EscapeTable table{};
    for (int c = 0; c < 256; ++c) {
        uint8_t action = kKeep;
        if (c >= 0x80) {
            action = kUtf8;
        } else if (c == '&') {
            action = kAmp;
        } else if (c == '<') {
            action = kLt;
        } else if (c == '>') {
            action = attribute ? kKeep : kGt;
        } else if (c == '"') {
            action = attribute ? kQuot : kKeep;
        } else if (c == '\r') {
            action = kCr;
        } else if (c == '\t') {
            action = attribute ? kTab : kKeep;
        } else if (c == '\n') {
            action = attribute ? kLf : kKeep;
        } else if (c < 0x20) {
            action = kReplace;
        }
        table.m_Action[c] = action;
    }
    return table;
}

constexpr EscapeTable kTextEscapes = MakeEscapeTable(false);
constexpr EscapeTable kAttributeEscapes = MakeEscapeTable(true);

} // namespace

KL_XmlSerializer::KL_XmlSerializer(KL_OutputStream* output, uint32_t indentation, bool shrink_empty_elements,
                                   bool add_xml_decl)
    : m_Output(output), m_Indentation(indentation), m_ShrinkEmptyElements(shrink_empty_elements),
      m_AddXmlDecl(add_xml_decl) {}

KL_Result KL_XmlSerializer::Write(const char* data, KL_Size size) {
    if (size == 0) {
        return KL_SUCCESS;
    }
    KL_CHECK_POINTER(m_Output);
    return m_Output->WriteFully(data, size);
}

KL_Result KL_XmlSerializer::Write(const char* text) {
    return Write(text, static_cast<KL_Size>(std::strlen(text)));
}

KL_Result KL_XmlSerializer::WriteName(const char* prefix, const char* name) {
    if (prefix != nullptr && prefix[0] != 0) {
        KL_CHECK(Write(prefix));
        KL_CHECK(Write(":", 1));
    }
    return Write(name ? name : "");
}

KL_Result KL_XmlSerializer::CloseStartTag() {
    if (!m_ElementPending) {
        return KL_SUCCESS;
    }
    m_ElementPending = false;
    return Write(">", 1);
}

KL_Result KL_XmlSerializer::BreakLine() {
    KL_CHECK(Write("\r\n", 2));
    uint64_t wanted = static_cast<uint64_t>(m_Depth) * m_Indentation;
    if (wanted > 0x10000000) {
        return KL_ERROR_OUT_OF_RANGE;
    }
    KL_Size spaces = static_cast<KL_Size>(wanted);
    if (m_IndentationPrefix.GetLength() < spaces) {
        KL_Size grown = (spaces + 15) / 16 * 16;
        m_IndentationPrefix = KL_String(' ', grown);
    }
    return Write(m_IndentationPrefix.GetChars(), spaces);
}

KL_Result KL_XmlSerializer::StartDocument() {
    return m_AddXmlDecl ? Write(XmlDeclaration) : KL_SUCCESS;
}

KL_Result KL_XmlSerializer::EndDocument() {
    return m_ElementPending ? KL_ERROR_INTERNAL : KL_SUCCESS;
}

KL_Result KL_XmlSerializer::StartElement(const char* prefix, const char* name) {
    KL_CHECK(CloseStartTag());
    if (m_Indentation != 0 && (m_Depth != 0 || m_StartTagWritten)) {
        KL_CHECK(BreakLine());
    }
    m_StartTagWritten = true;
    m_ElementPending = true;
    m_ElementHasText = false;
    ++m_Depth;
    KL_CHECK(Write("<", 1));
    return WriteName(prefix, name);
}

// After the short form the start tag is closed, so that what follows starts cleanly.
KL_Result KL_XmlSerializer::EndElement(const char* prefix, const char* name) {
    if (m_Depth > 0) {
        --m_Depth;
    }
    if (m_ElementPending) {
        m_ElementPending = false;
        if (m_ShrinkEmptyElements) {
            return Write("/>", 2);
        }
        KL_CHECK(Write(">", 1));
    } else if (m_Indentation != 0 && !m_ElementHasText) {
        KL_CHECK(BreakLine());
    }
    m_ElementHasText = false;
    KL_CHECK(Write("</", 2));
    KL_CHECK(WriteName(prefix, name));
    return Write(">", 1);
}

KL_Result KL_XmlSerializer::Attribute(const char* prefix, const char* name, const char* value) {
    KL_CHECK(Write(" ", 1));
    KL_CHECK(WriteName(prefix, name));
    KL_CHECK(Write("=\"", 2));
    KL_CHECK(WriteEscaped(value ? value : "", Mode::ATTRIBUTE));
    return Write("\"", 1);
}

KL_Result KL_XmlSerializer::Text(const char* text) {
    KL_CHECK(CloseStartTag());
    m_ElementHasText = true;
    return WriteEscaped(text ? text : "", Mode::TEXT);
}

KL_Result KL_XmlSerializer::CdataSection(const char* data) {
    KL_CHECK(CloseStartTag());
    m_ElementHasText = true;
    KL_CHECK(Write("<![CDATA["));
    KL_CHECK(Write(data ? data : ""));
    return Write("]]>", 3);
}

KL_Result KL_XmlSerializer::Comment(const char* text) {
    KL_CHECK(CloseStartTag());
    KL_CHECK(Write("<!--", 4));
    KL_CHECK(Write(text ? text : ""));
    return Write("-->", 3);
}

// Unchanged runs and replacements are gathered in a local buffer and written in large pieces, so
// that a long text full of markup (an escaped document) costs few writes.
KL_Result KL_XmlSerializer::WriteEscaped(const char* text, Mode mode) {
    char gathered[8192 + kReplacementRoom]; // room for a replacement's padding beyond the last byte
    size_t used = 0;
    const auto put = [&](const void* data, size_t size) -> KL_Result {
        if (used + size > sizeof gathered - kReplacementRoom) {
            KL_CHECK(Write(gathered, static_cast<KL_Size>(used)));
            used = 0;
            if (size > sizeof gathered - kReplacementRoom) {
                return Write(static_cast<const char*>(data), static_cast<KL_Size>(size));
            }
        }
        std::memcpy(gathered + used, data, size);
        used += size;
        return KL_SUCCESS;
    };
    const EscapeTable& table = mode == Mode::ATTRIBUTE ? kAttributeEscapes : kTextEscapes;
    const auto* p = reinterpret_cast<const uint8_t*>(text);
    const uint8_t* run = p;
    while (*p != 0) {
        uint8_t action = table.m_Action[*p];
        if (action == kKeep) {
            ++p;
            continue;
        }
        const Replacement* replacement = nullptr;
        int length = 1;
        if (action == kUtf8) {
            length = Utf8SequenceLength(p);
            if (length == 0 || IsNonCharacter(p, length)) {
                replacement = &kReplacements[kReplace];
                length = length ? length : 1;
            }
        } else {
            replacement = &kReplacements[action];
        }
        if (replacement != nullptr) {
            KL_CHECK(put(run, static_cast<size_t>(p - run)));
            if (used + kReplacementRoom > sizeof gathered - kReplacementRoom) {
                KL_CHECK(Write(gathered, static_cast<KL_Size>(used)));
                used = 0;
            }
            std::memcpy(gathered + used, replacement->m_Text, kReplacementRoom);
            used += replacement->m_Length;
            run = p + length;
        }
        p += length;
    }
    KL_CHECK(put(run, static_cast<size_t>(p - run)));
    return Write(gathered, static_cast<KL_Size>(used));
}
