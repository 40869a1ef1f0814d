#include "KL_XmlProcessor.h"

#include "KL_XmlParser.h"

#include <cstring>

namespace {

// The states of the machine.
enum : uint8_t {
    S_DOCUMENT_START = 0,
    S_BOM_SECOND = 1,
    S_BOM_THIRD = 2,
    S_BETWEEN_ITEMS = 3,
    S_NAME = 4,
    S_DECLARATION_WORD = 5,
    S_BEFORE_VALUE = 6,
    S_VALUE = 7,
    S_AFTER_LESS_THAN = 8,
    S_AFTER_SLASH = 9,
    S_CONTENT = 10,
    S_PROCESSING_INSTRUCTION = 12,
    S_PI_QUESTION_MARK = 13,
    S_COMMENT = 14,
    S_COMMENT_DASH = 15,
    S_COMMENT_DASH_DASH = 16,
    S_DOCTYPE = 17,
    S_DOCTYPE_SUBSET = 18,
    S_DOCTYPE_SUBSET_END = 19,
    S_CDATA = 20,
    S_CDATA_BRACKET = 21,
    S_CDATA_BRACKET_BRACKET = 22,
    S_OTHER_DECLARATION = 23,
    S_ENTITY = 24,
};

bool IsWhitespace(uint8_t c) {
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

bool IsNameChar(uint8_t c) {
    return c == '-' || c == '.' || (c >= '0' && c <= '9') || c == ':' || (c >= 'A' && c <= 'Z') || c == '_' ||
           (c >= 'a' && c <= 'z') || (c >= 0xC0 && c != 0xD7 && c != 0xF7);
}

bool IsValueChar(uint8_t c) {
    return IsWhitespace(c) || (c >= 0x20 && c != '&' && c != '<');
}

bool IsControlChar(uint8_t c) {
    return c < 0x20 && !IsWhitespace(c);
}

int DigitValue(char c, bool hex) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (hex && c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (hex && c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

// ---- Driver -------------------------------------------------------------------------------

void KL_XmlProcessor::Reset() {
    m_State = S_DOCUMENT_START;
    m_Context = CONTEXT_NONE;
    m_PendingCr = false;
    m_Failure = KL_SUCCESS;
    m_Name.Free();
    m_Value.Free();
    m_Text.Free();
    m_Entity.Free();
}

KL_Result KL_XmlProcessor::ProcessBuffer(const uint8_t* data, KL_Size size) {
    for (KL_Size i = 0; i < size && KL_SUCCEEDED(m_Failure); ++i) {
        if (data[i] == 0) {
            break;
        }
        m_Failure = ProcessByte(data[i]);
    }
    return m_Failure;
}

KL_Result KL_XmlProcessor::ProcessByte(uint8_t c) {
    if (m_PendingCr) {
        m_PendingCr = false;
        if (c == '\n') {
            return KL_SUCCESS;
        }
    }
    if (c == '\r') {
        m_PendingCr = true;
        c = '\n';
    }
    switch (m_State) {
    case S_DOCUMENT_START:
    case S_BOM_SECOND:
    case S_BOM_THIRD:
        return ProcessDocumentStart(c);
    case S_BETWEEN_ITEMS:
        return ProcessBetweenItems(c);
    case S_NAME:
        return ProcessName(c);
    case S_DECLARATION_WORD:
        return ProcessDeclarationWord(c);
    case S_BEFORE_VALUE:
    case S_VALUE:
        return ProcessValue(c);
    case S_AFTER_LESS_THAN:
        return ProcessAfterLessThan(c);
    case S_AFTER_SLASH:
        if (c != '>') {
            return KL_ERROR_INVALID_SYNTAX;
        }
        SetState(S_CONTENT);
        m_Context = CONTEXT_NONE; // else an entity right after "/>" would be refused
        return EndEmptyElement();
    case S_CONTENT:
        return ProcessContent(c);
    case S_CDATA:
    case S_CDATA_BRACKET:
    case S_CDATA_BRACKET_BRACKET:
        return ProcessCdata(c);
    case S_ENTITY:
        return ProcessEntityName(c);
    default:
        return ProcessSkipping(c);
    }
}

// ---- States -------------------------------------------------------------------------------

KL_Result KL_XmlProcessor::ProcessDocumentStart(uint8_t c) {
    if (m_State == S_BOM_SECOND || m_State == S_BOM_THIRD) {
        uint8_t expected = m_State == S_BOM_SECOND ? 0xBB : 0xBF;
        if (c != expected) {
            return KL_ERROR_INVALID_SYNTAX;
        }
        SetState(m_State == S_BOM_SECOND ? S_BOM_THIRD : S_BETWEEN_ITEMS);
        return KL_SUCCESS;
    }
    if (IsWhitespace(c)) {
        SetState(S_BETWEEN_ITEMS);
    } else if (c == 0xEF) {
        SetState(S_BOM_SECOND);
    } else if (c == '<') {
        SetState(S_AFTER_LESS_THAN);
    } else {
        return KL_ERROR_INVALID_SYNTAX;
    }
    return KL_SUCCESS;
}

KL_Result KL_XmlProcessor::ProcessBetweenItems(uint8_t c) {
    if (IsWhitespace(c)) {
        return KL_SUCCESS;
    }
    switch (m_Context) {
    case CONTEXT_ATTRIBUTE:
        if (c == '>') {
            m_Context = CONTEXT_NONE;
            SetState(S_CONTENT);
        } else if (c == '/') {
            SetState(S_AFTER_SLASH);
        } else if (IsNameChar(c)) {
            StartName(c);
        } else {
            return KL_ERROR_INVALID_SYNTAX;
        }
        return KL_SUCCESS;
    case CONTEXT_CLOSE_TAG:
        if (c != '>') {
            return KL_ERROR_INVALID_SYNTAX;
        }
        return EndElement();
    case CONTEXT_NONE:
        if (c != '<') {
            return KL_ERROR_INVALID_SYNTAX;
        }
        SetState(S_AFTER_LESS_THAN);
        return KL_SUCCESS;
    default:
        return KL_ERROR_INVALID_SYNTAX;
    }
}

void KL_XmlProcessor::StartName(uint8_t c) {
    m_Name.Clear();
    (void)m_Name.Append(c); // a cleared buffer always has room
    SetState(S_NAME);
}

KL_Result KL_XmlProcessor::ProcessName(uint8_t c) {
    if (IsNameChar(c)) {
        return m_Name.Append(c);
    }
    switch (m_Context) {
    case CONTEXT_OPEN_TAG:
        if (c != '>' && c != '/' && !IsWhitespace(c)) {
            return KL_ERROR_INVALID_SYNTAX;
        }
        if (c == '>') {
            SetState(S_CONTENT);
            m_Context = CONTEXT_NONE;
        } else if (c == '/') {
            SetState(S_AFTER_SLASH);
        } else {
            SetState(S_BETWEEN_ITEMS);
            m_Context = CONTEXT_ATTRIBUTE;
        }
        return StartElement();
    case CONTEXT_CLOSE_TAG:
        if (c == '>') {
            return EndElement();
        }
        if (IsWhitespace(c)) {
            SetState(S_BETWEEN_ITEMS);
            return KL_SUCCESS;
        }
        return KL_ERROR_INVALID_SYNTAX;
    case CONTEXT_ATTRIBUTE:
        if (c == '=') {
            m_Value.Clear();
            SetState(S_BEFORE_VALUE);
            return KL_SUCCESS;
        }
        return IsWhitespace(c) ? KL_SUCCESS : KL_ERROR_INVALID_SYNTAX;
    default:
        return KL_ERROR_INVALID_SYNTAX;
    }
}

KL_Result KL_XmlProcessor::ProcessDeclarationWord(uint8_t c) {
    if (c == '[' || IsNameChar(c)) {
        KL_Result result = m_Name.Append(c);
        if (KL_FAILED(result)) {
            return result;
        }
        if (m_Name.Equals("[CDATA[")) {
            SetState(S_CDATA);
        } else if (m_Name.Equals("--")) {
            SetState(S_COMMENT);
        }
        return KL_SUCCESS;
    }
    if (IsWhitespace(c)) {
        SetState(m_Name.Equals("DOCTYPE") ? S_DOCTYPE : S_OTHER_DECLARATION);
        return KL_SUCCESS;
    }
    return KL_ERROR_INVALID_SYNTAX;
}

KL_Result KL_XmlProcessor::ProcessValue(uint8_t c) {
    if (m_State == S_BEFORE_VALUE) {
        if (IsWhitespace(c)) {
            return KL_SUCCESS;
        }
        if (c != '\'' && c != '"') {
            return KL_ERROR_INVALID_SYNTAX;
        }
        m_Context = c == '\'' ? CONTEXT_SINGLE_QUOTE : CONTEXT_DOUBLE_QUOTE;
        SetState(S_VALUE);
        return KL_SUCCESS;
    }
    if (c == '&') {
        m_Entity.Clear();
        SetState(S_ENTITY);
        return KL_SUCCESS;
    }
    if ((c == '\'' && m_Context == CONTEXT_SINGLE_QUOTE) || (c == '"' && m_Context == CONTEXT_DOUBLE_QUOTE)) {
        m_Context = CONTEXT_ATTRIBUTE;
        SetState(S_BETWEEN_ITEMS);
        return AddAttribute();
    }
    if (IsWhitespace(c)) {
        return m_Value.Append(' ');
    }
    return IsValueChar(c) ? m_Value.Append(c) : KL_ERROR_INVALID_SYNTAX;
}

KL_Result KL_XmlProcessor::ProcessAfterLessThan(uint8_t c) {
    if (c == '?') {
        SetState(S_PROCESSING_INSTRUCTION);
    } else if (c == '/') {
        m_Name.Clear();
        m_Context = CONTEXT_CLOSE_TAG;
        SetState(S_NAME);
    } else if (c == '!') {
        m_Name.Clear();
        SetState(S_DECLARATION_WORD);
    } else if (IsNameChar(c)) {
        m_Context = CONTEXT_OPEN_TAG;
        StartName(c);
    } else {
        return KL_ERROR_INVALID_SYNTAX;
    }
    return KL_SUCCESS;
}

KL_Result KL_XmlProcessor::ProcessContent(uint8_t c) {
    if (c == '&') {
        m_Entity.Clear();
        SetState(S_ENTITY);
        return KL_SUCCESS;
    }
    if (c == '<') {
        SetState(S_AFTER_LESS_THAN);
        return KL_SUCCESS;
    }
    return m_Text.Append(c);
}

// Processing instructions, comments, DOCTYPE and other declarations: skipped up to their end.
KL_Result KL_XmlProcessor::ProcessSkipping(uint8_t c) {
    switch (m_State) {
    case S_PROCESSING_INSTRUCTION:
        if (c == '?') {
            SetState(S_PI_QUESTION_MARK);
        }
        return KL_SUCCESS;
    case S_PI_QUESTION_MARK:
        if (c != '>') {
            return KL_ERROR_INVALID_SYNTAX;
        }
        m_Context = CONTEXT_NONE;
        SetState(S_BETWEEN_ITEMS);
        return KL_SUCCESS;
    case S_COMMENT:
    case S_COMMENT_DASH:
        if (IsControlChar(c)) {
            return KL_ERROR_INVALID_SYNTAX;
        }
        if (c == '-') {
            SetState(m_State == S_COMMENT ? S_COMMENT_DASH : S_COMMENT_DASH_DASH);
        } else {
            SetState(S_COMMENT);
        }
        return KL_SUCCESS;
    case S_COMMENT_DASH_DASH:
        if (c != '>') {
            return KL_ERROR_INVALID_SYNTAX;
        }
        SetState(S_CONTENT);
        return KL_SUCCESS;
    case S_DOCTYPE:
        if (c == '>') {
            SetState(S_BETWEEN_ITEMS);
        } else if (c == '[') {
            SetState(S_DOCTYPE_SUBSET);
        }
        return KL_SUCCESS;
    case S_DOCTYPE_SUBSET:
        if (c == ']') {
            SetState(S_DOCTYPE_SUBSET_END);
        }
        return KL_SUCCESS;
    case S_DOCTYPE_SUBSET_END:
        if (c == '>') {
            SetState(S_BETWEEN_ITEMS);
            return KL_SUCCESS;
        }
        return IsWhitespace(c) ? KL_SUCCESS : KL_ERROR_INVALID_SYNTAX;
    case S_OTHER_DECLARATION:
        if (c == '>') {
            SetState(S_BETWEEN_ITEMS);
        }
        return KL_SUCCESS;
    default:
        return KL_ERROR_INTERNAL;
    }
}

// CDATA content joins the pending text. "]]]>" ends the section after a "]" of content.
KL_Result KL_XmlProcessor::ProcessCdata(uint8_t c) {
    if (m_State == S_CDATA) {
        if (c == ']') {
            SetState(S_CDATA_BRACKET);
            return KL_SUCCESS;
        }
        return m_Text.Append(c);
    }
    if (m_State == S_CDATA_BRACKET) {
        if (c == ']') {
            SetState(S_CDATA_BRACKET_BRACKET);
            return KL_SUCCESS;
        }
        SetState(S_CDATA);
        KL_Result result = m_Text.Append(']');
        return KL_SUCCEEDED(result) ? m_Text.Append(c) : result;
    }
    if (c == '>') {
        SetState(S_CONTENT);
        return KL_SUCCESS;
    }
    if (c == ']') {
        return m_Text.Append(']');
    }
    SetState(S_CDATA);
    KL_Result result = m_Text.Append("]]");
    return KL_SUCCEEDED(result) ? m_Text.Append(c) : result;
}

KL_Result KL_XmlProcessor::ProcessEntityName(uint8_t c) {
    if (c == ';') {
        if (m_Context == CONTEXT_NONE) {
            SetState(S_CONTENT);
            return DecodeEntity(m_Text);
        }
        if (m_Context == CONTEXT_SINGLE_QUOTE || m_Context == CONTEXT_DOUBLE_QUOTE) {
            SetState(S_VALUE);
            return DecodeEntity(m_Value);
        }
        return KL_ERROR_INVALID_SYNTAX;
    }
    if (c == '#' || IsNameChar(c)) {
        return m_Entity.Append(c);
    }
    return KL_ERROR_INVALID_SYNTAX;
}

// The five predefined entities and character references; an unknown name stands as it is.
// A character reference needs at least one digit and a code point of 1 or more; one beyond
// 0x10FFFF (counted without wrapping) or a surrogate adds nothing.
KL_Result KL_XmlProcessor::DecodeEntity(KL_XmlByteBuffer& into) {
    static const struct {
        const char* name;
        char value;
    } kPredefined[] = {{"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
    for (const auto& entity : kPredefined) {
        if (m_Entity.Equals(entity.name)) {
            return into.Append(static_cast<uint8_t>(entity.value));
        }
    }
    const char* name = m_Entity.GetData();
    if (name[0] != '#') {
        return into.Append(name);
    }
    bool hex = name[1] == 'x';
    const char* digits = name + (hex ? 2 : 1);
    if (*digits == 0) {
        return KL_ERROR_INVALID_SYNTAX;
    }
    uint32_t code = 0;
    for (const char* p = digits; *p; ++p) {
        int digit = DigitValue(*p, hex);
        if (digit < 0) {
            (void)into.Append(name);
            return KL_ERROR_INVALID_SYNTAX;
        }
        if (code <= 0x10FFFF) {
            code = code * (hex ? 16 : 10) + static_cast<uint32_t>(digit);
        }
    }
    if (code == 0) {
        return KL_ERROR_INVALID_SYNTAX;
    }
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return KL_SUCCESS;
    }
    return into.AppendUtf8(code);
}

// ---- Reports to the tree builder ----------------------------------------------------------

KL_Result KL_XmlProcessor::FlushText() {
    if (m_Text.GetSize() == 0) {
        return KL_SUCCESS;
    }
    KL_Result result = m_Builder.OnText(m_Text.GetData(), m_Text.GetSize());
    m_Text.Clear();
    return result;
}

KL_Result KL_XmlProcessor::StartElement() {
    KL_Result result = FlushText();
    if (KL_FAILED(result)) {
        return result;
    }
    return m_Builder.OnStartElement(m_Name.GetData(), m_Name.GetSize());
}

KL_Result KL_XmlProcessor::EndEmptyElement() {
    KL_Result result = FlushText();
    return KL_SUCCEEDED(result) ? m_Builder.OnEmptyElementEnd() : result;
}

KL_Result KL_XmlProcessor::EndElement() {
    KL_Result result = FlushText();
    if (KL_FAILED(result)) {
        return result;
    }
    m_Context = CONTEXT_NONE;
    SetState(S_CONTENT);
    return m_Builder.OnEndElement(m_Name.GetData(), m_Name.GetSize());
}

KL_Result KL_XmlProcessor::AddAttribute() {
    return m_Builder.OnAttribute(m_Name.GetData(), m_Name.GetSize(), m_Value.GetData(), m_Value.GetSize());
}
