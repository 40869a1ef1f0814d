#include "KL_XmlParser.h"

#include "KL_Check.h"
#include "KL_InputStream.h"
#include "KL_XmlProcessor.h"

#include <cstring>
#include <new>

KL_SET_LOCAL_LOGGER("keel.xml");

namespace {

constexpr KL_Size kChunkSize = 1024;

bool IsAllWhitespace(const char* text, KL_Size length) {
    for (KL_Size i = 0; i < length; ++i) {
        char c = text[i];
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') {
            return false;
        }
    }
    return true;
}

} // namespace

KL_XmlParser::KL_XmlParser(bool keep_whitespace)
    : m_Processor(new KL_XmlProcessor(*this)), m_KeepWhitespace(keep_whitespace) {}

KL_XmlParser::~KL_XmlParser() {
    DeletePartialTree();
    delete m_Root;
    delete m_Processor;
}

// Deletes the tree being built, from the current element up to its topmost ancestor.
void KL_XmlParser::DeletePartialTree() {
    KL_XmlNode* top = m_CurrentElement;
    while (top != nullptr && top->GetParent() != nullptr) {
        top = top->GetParent();
    }
    delete top;
    m_CurrentElement = nullptr;
    m_Depth = 0;
}

void KL_XmlParser::Reset() {
    DeletePartialTree();
    m_Processor->Reset();
    m_RootCompleted = false;
}

KL_Result KL_XmlParser::Parse(const char* xml, KL_XmlNode*& tree, bool incremental) {
    return Parse(xml, xml ? static_cast<KL_Size>(std::strlen(xml)) : 0, tree, incremental);
}

KL_Result KL_XmlParser::Parse(const char* xml, KL_Size size, KL_XmlNode*& tree, bool incremental) {
    tree = nullptr;
    if (!incremental) {
        Reset();
    }
    m_Root = nullptr;
    KL_Result result = KL_SUCCESS;
    if (xml != nullptr) {
        result = m_Processor->ProcessBuffer(reinterpret_cast<const uint8_t*>(xml), size);
    }
    return Finish(result, tree, incremental);
}

KL_Result KL_XmlParser::Parse(KL_InputStream& stream, KL_XmlNode*& tree, bool incremental) {
    KL_Size size = 0;
    return Parse(stream, size, tree, incremental);
}

KL_Result KL_XmlParser::Parse(KL_InputStream& stream, KL_Size& size, KL_XmlNode*& tree, bool incremental) {
    tree = nullptr;
    if (!incremental) {
        Reset();
    }
    m_Root = nullptr;
    KL_Size limit = size;
    size = 0;
    uint8_t chunk[kChunkSize];
    KL_Result result = KL_SUCCESS;
    while (limit == 0 || size < limit) {
        KL_Size wanted = limit == 0 || limit - size > kChunkSize ? kChunkSize : limit - size;
        KL_Size got = 0;
        result = stream.Read(chunk, wanted, &got);
        if (KL_FAILED(result)) {
            break;
        }
        if (got > wanted) {
            result = KL_ERROR_INTERNAL;
            break;
        }
        if (got == 0) {
            // A stream that answers success without bytes would never end: take it as the end.
            result = KL_ERROR_EOS;
            break;
        }
        size += got;
        result = m_Processor->ProcessBuffer(chunk, got);
        if (KL_FAILED(result)) {
            break;
        }
    }
    return Finish(result, tree, incremental);
}

// The tree goes to the caller unless the call failed (the end of a stream is no failure); a
// failure frees what was built.
KL_Result KL_XmlParser::Finish(KL_Result result, KL_XmlNode*& tree, bool incremental) {
    if (!incremental && (result == KL_SUCCESS || result == KL_ERROR_EOS)) {
        result = m_Root != nullptr ? KL_SUCCESS : KL_ERROR_XML_NO_ROOT_ELEMENT;
    }
    if (KL_FAILED(result) && result != KL_ERROR_EOS) {
        KL_LOG_FINE("XML parse failed: %d (%s)", static_cast<int>(result), KL_GetResultText(result));
        delete m_Root;
        m_Root = nullptr;
        if (!incremental) {
            DeletePartialTree();
        }
    }
    tree = m_Root;
    m_Root = nullptr;
    return result;
}

// ---- Tree builder -------------------------------------------------------------------------

KL_Result KL_XmlParser::OnStartElement(const char* name, KL_Size length) {
    if (m_RootCompleted) {
        return KL_ERROR_XML_SECOND_ROOT_ELEMENT;
    }
    if (m_Depth >= MaxDepth) {
        return KL_ERROR_XML_INVALID_NESTING;
    }
    KL_String qualified(name, length);
    auto* element = new (std::nothrow) KL_XmlElementNode(qualified.GetChars());
    if (element == nullptr) {
        return KL_ERROR_OUT_OF_MEMORY;
    }
    if (m_CurrentElement != nullptr) {
        KL_Result result = m_CurrentElement->AddChild(element);
        if (KL_FAILED(result)) {
            delete element;
            return result;
        }
    }
    m_CurrentElement = element;
    ++m_Depth;
    return KL_SUCCESS;
}

KL_Result KL_XmlParser::OnAttribute(const char* name, KL_Size name_length, const char* value,
                                    KL_Size value_length) {
    if (m_CurrentElement == nullptr) {
        return KL_ERROR_INVALID_SYNTAX;
    }
    KL_String qualified(name, name_length);
    KL_String text(value, value_length);
    if (qualified.GetLength() == 5 && std::strcmp(qualified.GetChars(), "xmlns") == 0) {
        return m_CurrentElement->SetNamespaceUri("", text.GetChars());
    }
    if (std::strncmp(qualified.GetChars(), "xmlns:", 6) == 0) {
        return m_CurrentElement->SetNamespaceUri(qualified.GetChars() + 6, text.GetChars());
    }
    return m_CurrentElement->AddAttribute(qualified.GetChars(), text.GetChars());
}

// The name is split at its last ":"; both parts must equal the open element's.
KL_Result KL_XmlParser::OnEndElement(const char* name, KL_Size length) {
    if (m_CurrentElement == nullptr) {
        return KL_ERROR_XML_TAG_MISMATCH;
    }
    KL_Size colon = length;
    for (KL_Size i = length; i > 0; --i) {
        if (name[i - 1] == ':') {
            colon = i - 1;
            break;
        }
    }
    KL_Size prefix_length = colon == length ? 0 : colon;
    const char* local = colon == length ? name : name + colon + 1;
    KL_Size local_length = colon == length ? length : length - colon - 1;
    const KL_String& tag = m_CurrentElement->GetTag();
    const KL_String& prefix = m_CurrentElement->GetPrefix();
    if (tag.GetLength() != local_length || std::memcmp(tag.GetChars(), local, local_length) != 0 ||
        prefix.GetLength() != prefix_length || std::memcmp(prefix.GetChars(), name, prefix_length) != 0) {
        return KL_ERROR_XML_TAG_MISMATCH;
    }
    return CloseCurrentElement();
}

KL_Result KL_XmlParser::OnEmptyElementEnd() {
    if (m_CurrentElement == nullptr) {
        return KL_ERROR_XML_TAG_MISMATCH;
    }
    return CloseCurrentElement();
}

KL_Result KL_XmlParser::CloseCurrentElement() {
    KL_XmlNode* parent = m_CurrentElement->GetParent();
    --m_Depth;
    if (parent == nullptr) {
        m_Root = m_CurrentElement;
        m_RootCompleted = true;
        m_CurrentElement = nullptr;
    } else {
        m_CurrentElement = parent->AsElementNode();
    }
    return KL_SUCCESS;
}

KL_Result KL_XmlParser::OnText(const char* text, KL_Size length) {
    bool blank = IsAllWhitespace(text, length);
    if (m_CurrentElement == nullptr) {
        return blank ? KL_SUCCESS : KL_ERROR_XML_INVALID_NESTING;
    }
    if (blank && !m_KeepWhitespace) {
        return KL_SUCCESS;
    }
    KL_String string(text, length);
    return m_CurrentElement->AddText(string.GetChars());
}
