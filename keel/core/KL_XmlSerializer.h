// KL_XmlSerializer: writes XML text to an output stream event by event, with optional
// indentation (CR LF and spaces per level) and the short form "/>" for empty elements.
//
// Text and attribute values are escaped and always come out well-formed: invalid UTF-8, bytes
// that XML does not allow (control bytes other than TAB, LF and CR) and the non-characters
// U+FFFE and U+FFFF become U+FFFD; valid text passes unchanged. CDATA sections and comments
// are written as given.
#pragma once

#include "KL_Result.h"
#include "KL_String.h"

#include <cstdint>

class KL_OutputStream;

class KL_XmlSerializer {
public:
    // The declaration line StartDocument writes when add_xml_decl is set.
    static const char* const XmlDeclaration;

    KL_XmlSerializer(KL_OutputStream* output, uint32_t indentation = 0, bool shrink_empty_elements = true,
                     bool add_xml_decl = false);
    KL_XmlSerializer(const KL_XmlSerializer&) = delete;
    KL_XmlSerializer& operator=(const KL_XmlSerializer&) = delete;
    virtual ~KL_XmlSerializer() = default;

    [[nodiscard]] virtual KL_Result StartDocument();
    // KL_ERROR_INTERNAL while a start tag is still open.
    [[nodiscard]] virtual KL_Result EndDocument();
    [[nodiscard]] virtual KL_Result StartElement(const char* prefix, const char* name);
    [[nodiscard]] virtual KL_Result EndElement(const char* prefix, const char* name);
    [[nodiscard]] virtual KL_Result Attribute(const char* prefix, const char* name, const char* value);
    [[nodiscard]] virtual KL_Result Text(const char* text);
    [[nodiscard]] virtual KL_Result CdataSection(const char* data);
    [[nodiscard]] virtual KL_Result Comment(const char* text);

private:
    enum class Mode { TEXT, ATTRIBUTE };

    KL_Result Write(const char* text);
    KL_Result Write(const char* data, KL_Size size);
    KL_Result WriteName(const char* prefix, const char* name);
    KL_Result WriteEscaped(const char* text, Mode mode);
    KL_Result CloseStartTag();
    KL_Result BreakLine();

    KL_OutputStream* m_Output;
    bool m_ElementPending = false;
    uint32_t m_Depth = 0;
    uint32_t m_Indentation;
    KL_String m_IndentationPrefix;
    bool m_ElementHasText = false;
    bool m_ShrinkEmptyElements;
    bool m_AddXmlDecl;
    bool m_StartTagWritten = false;
};
