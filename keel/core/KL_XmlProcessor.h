// KL_XmlProcessor: the byte state machine behind KL_XmlParser. It is fed one byte at a time,
// folds line ends (CR LF and lone CR become LF), decodes entities and reports start tags,
// attributes, end tags and text to the parser's tree builder. After a failure it keeps
// answering that failure until it is reset.
#pragma once

#include "KL_Result.h"
#include "KL_Types.h"
#include "KL_XmlByteBuffer.h"

#include <cstdint>

class KL_XmlParser;

class KL_XmlProcessor {
public:
    explicit KL_XmlProcessor(KL_XmlParser& builder) : m_Builder(builder) {}
    KL_XmlProcessor(const KL_XmlProcessor&) = delete;
    KL_XmlProcessor& operator=(const KL_XmlProcessor&) = delete;
    ~KL_XmlProcessor() = default;

    // Feeds the bytes in order; a NUL byte ends the buffer early.
    KL_Result ProcessBuffer(const uint8_t* data, KL_Size size);
    // Back to the document start (state 0, context none, no pending CR, buffers emptied).
    void Reset();

private:
    enum Context : uint8_t {
        CONTEXT_NONE,
        CONTEXT_OPEN_TAG,
        CONTEXT_CLOSE_TAG,
        CONTEXT_ATTRIBUTE,
        CONTEXT_SINGLE_QUOTE,
        CONTEXT_DOUBLE_QUOTE,
    };

    KL_Result ProcessByte(uint8_t c);
    KL_Result ProcessDocumentStart(uint8_t c);
    KL_Result ProcessBetweenItems(uint8_t c);
    KL_Result ProcessName(uint8_t c);
    KL_Result ProcessDeclarationWord(uint8_t c);
    KL_Result ProcessValue(uint8_t c);
    KL_Result ProcessAfterLessThan(uint8_t c);
    KL_Result ProcessContent(uint8_t c);
    KL_Result ProcessSkipping(uint8_t c);
    KL_Result ProcessCdata(uint8_t c);
    KL_Result ProcessEntityName(uint8_t c);
    KL_Result DecodeEntity(KL_XmlByteBuffer& into);
    KL_Result FlushText();
    KL_Result StartElement();
    KL_Result EndElement();
    KL_Result EndEmptyElement();
    KL_Result AddAttribute();
    void StartName(uint8_t c);
    void SetState(uint8_t state) { m_State = state; }

    KL_XmlParser& m_Builder;
    uint8_t m_State = 0;
    Context m_Context = CONTEXT_NONE;
    bool m_PendingCr = false;
    KL_Result m_Failure = KL_SUCCESS;
    KL_XmlByteBuffer m_Name;
    KL_XmlByteBuffer m_Value;
    KL_XmlByteBuffer m_Text;
    KL_XmlByteBuffer m_Entity;
};
