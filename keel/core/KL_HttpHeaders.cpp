#include "KL_HttpHeaders.h"

#include "KL_BufferedInputStream.h"
#include "KL_OutputStream.h"

KL_HttpHeaders::~KL_HttpHeaders() {
    Clear();
}

void KL_HttpHeaders::Clear() {
    for (KL_HttpHeader* header : m_Headers) {
        delete header;
    }
    m_Headers.Clear();
}

KL_HttpHeader* KL_HttpHeaders::GetHeader(const char* name) const {
    if (name == nullptr) {
        return nullptr;
    }
    for (KL_HttpHeader* header : m_Headers) {
        if (header->GetName().Compare(name, true) == 0) {
            return header;
        }
    }
    return nullptr;
}

const char* KL_HttpHeaders::GetHeaderValue(const char* name) const {
    const KL_HttpHeader* header = GetHeader(name);
    return header != nullptr ? header->GetValue().GetChars() : nullptr;
}

KL_Result KL_HttpHeaders::AddHeader(const char* name, const char* value) {
    KL_HttpHeader* header = new KL_HttpHeader(name, value);
    const KL_Result result = m_Headers.Add(header);
    if (KL_FAILED(result)) {
        delete header;
    }
    return result;
}

KL_Result KL_HttpHeaders::SetHeader(const char* name, const char* value, bool replace) {
    KL_HttpHeader* header = GetHeader(name);
    if (header == nullptr) {
        return AddHeader(name, value);
    }
    if (replace) {
        header->SetValue(value);
    }
    return KL_SUCCESS;
}

KL_Result KL_HttpHeaders::RemoveHeader(const char* name) {
    if (name == nullptr) {
        return KL_ERROR_NO_SUCH_ITEM;
    }
    bool removed = false;
    for (auto it = m_Headers.GetFirstItem(); it;) {
        auto next = it;
        ++next;
        if ((*it)->GetName().Compare(name, true) == 0) {
            delete *it;
            m_Headers.Erase(it);
            removed = true;
        }
        it = next;
    }
    return removed ? KL_SUCCESS : KL_ERROR_NO_SUCH_ITEM;
}

KL_Result KL_HttpHeaders::Parse(KL_BufferedInputStream& stream) {
    const KL_Result result = ReadBlock(stream, KL_HTTP_PROTOCOL_MAX_LINE_LENGTH, this);
    // A head that ends with the stream is complete (a datagram may lack its empty line).
    return result == KL_ERROR_EOS ? KL_SUCCESS : result;
}

KL_Result KL_HttpHeaders::SkipBlock(KL_BufferedInputStream& stream, KL_Size max_line_length) {
    return ReadBlock(stream, max_line_length, nullptr);
}

void KL_HttpHeaders::CommitHeader(KL_String& name, KL_String& value) {
    value.Trim();
    AddHeader(name.GetChars(), value.GetChars());
}

// Reads lines up to an empty one (success) or the end of the stream (KL_ERROR_EOS), storing the
// headers in target when there is one. Bounded in lines and bytes; read failures are returned.
KL_Result KL_HttpHeaders::ReadBlock(KL_BufferedInputStream& stream, KL_Size max_line_length,
                                    KL_HttpHeaders* target) {
    KL_String name;
    KL_String value;
    bool pending = false;
    KL_Size lines = 0;
    KL_Size bytes = 0;
    KL_Result result = KL_SUCCESS;
    for (;;) {
        KL_String line;
        result = stream.ReadLine(line, max_line_length, false);
        if (KL_FAILED(result) && result != KL_ERROR_EOS) {
            return result;
        }
        if (result == KL_ERROR_EOS || line.IsEmpty()) {
            break;
        }
        bytes += line.GetLength() + 2;
        if (++lines > KL_HTTP_PROTOCOL_MAX_HEADER_LINES || bytes > KL_HTTP_PROTOCOL_MAX_HEADER_BYTES) {
            return KL_ERROR_NOT_ENOUGH_SPACE;
        }
        if (pending && (line[0] == ' ' || line[0] == '\t')) {
            value.Append(line.GetChars() + 1, line.GetLength() - 1); // a folded value goes on
            continue;
        }
        if (pending && target != nullptr) {
            target->CommitHeader(name, value);
        }
        pending = false;
        const int colon = line.Find(':');
        if (colon <= 0) {
            continue; // no name: not a header
        }
        name = line.Left(static_cast<KL_Size>(colon));
        KL_Index start = static_cast<KL_Index>(colon) + 1;
        while (start < line.GetLength() && (line[start] == ' ' || line[start] == '\t')) {
            ++start;
        }
        value = line.SubString(start);
        pending = true;
    }
    if (pending && target != nullptr) {
        target->CommitHeader(name, value);
    }
    return result;
}

KL_Result KL_HttpHeaders::Emit(KL_OutputStream& stream) const {
    for (const KL_HttpHeader* header : m_Headers) {
        const KL_Result result = header->Emit(stream);
        if (KL_FAILED(result)) {
            return result;
        }
    }
    return KL_SUCCESS;
}
