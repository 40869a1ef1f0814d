// KL_XmlParser: builds an element tree from UTF-8 text, a buffer or a stream, one byte at a
// time. Each Parse hands out the finished root element (the caller owns it) or null.
//
// Codes: KL_ERROR_INVALID_SYNTAX (malformed text), KL_ERROR_XML_TAG_MISMATCH (an end tag that
// does not match, or with no open element), KL_ERROR_XML_INVALID_NESTING (text after the root
// element, or elements nested deeper than MaxDepth), KL_ERROR_XML_NO_ROOT_ELEMENT (the input
// ended without a completed root) and KL_ERROR_XML_SECOND_ROOT_ELEMENT; stream errors pass
// through; on failure the tree is null. In incremental mode each call continues where the
// previous one stopped, hands out the root when that call completed it, and returns the
// processor's result unchanged (the end of the input is the caller's to judge); a failure sticks
// until the next call that is not incremental.
#pragma once

#include "KL_Result.h"
#include "KL_String.h"
#include "KL_Types.h"
#include "KL_XmlElementNode.h"

#include <cstdint>

class KL_InputStream;
class KL_XmlProcessor;

// Parser outcomes of the XML family that have no name of their own.
constexpr KL_Result KL_ERROR_XML_NO_ROOT_ELEMENT = -20602;
constexpr KL_Result KL_ERROR_XML_SECOND_ROOT_ELEMENT = -20603;

class KL_XmlParser {
public:
    // Elements may nest this many levels deep; one more is KL_ERROR_XML_INVALID_NESTING.
    static constexpr uint32_t MaxDepth = 256;

    explicit KL_XmlParser(bool keep_whitespace = false);
    KL_XmlParser(const KL_XmlParser&) = delete;
    KL_XmlParser& operator=(const KL_XmlParser&) = delete;
    virtual ~KL_XmlParser();

    // The text up to its NUL.
    virtual KL_Result Parse(const char* xml, KL_XmlNode*& tree, bool incremental = false);
    virtual KL_Result Parse(const char* xml, KL_Size size, KL_XmlNode*& tree, bool incremental = false);
    // Until the stream ends.
    virtual KL_Result Parse(KL_InputStream& stream, KL_XmlNode*& tree, bool incremental = false);
    // At most size bytes (0: until the stream ends), read in chunks of at most 1024 bytes; size
    // returns the number of bytes consumed.
    virtual KL_Result Parse(KL_InputStream& stream, KL_Size& size, KL_XmlNode*& tree,
                            bool incremental = false);

private:
    friend class KL_XmlProcessor;

    void Reset();
    void DeletePartialTree();
    KL_Result Finish(KL_Result result, KL_XmlNode*& tree, bool incremental);

    // The tree builder, called by the processor.
    KL_Result OnStartElement(const char* name, KL_Size length);
    KL_Result OnEndElement(const char* name, KL_Size length);
    KL_Result OnEmptyElementEnd();
    KL_Result OnAttribute(const char* name, KL_Size name_length, const char* value, KL_Size value_length);
    KL_Result OnText(const char* text, KL_Size length);
    KL_Result CloseCurrentElement();

    KL_XmlProcessor* m_Processor;
    KL_XmlElementNode* m_Root = nullptr;
    KL_XmlElementNode* m_CurrentElement = nullptr;
    bool m_KeepWhitespace;
    bool m_RootCompleted = false;
    uint32_t m_Depth = 0;
};
