#include "KL_TlsStreamAdapter.h"

#include "KL_TlsLibraryResult.h"

#include <mutex>
#include <openssl/bio.h>

namespace {

KL_TlsStreamAdapter* AdapterOf(BIO* bio) {
    return static_cast<KL_TlsStreamAdapter*>(BIO_get_data(bio));
}

int BioWrite(BIO* bio, const char* data, int size) {
    BIO_clear_retry_flags(bio);
    return AdapterOf(bio)->Write(data, size);
}

int BioRead(BIO* bio, char* data, int size) {
    BIO_clear_retry_flags(bio);
    return AdapterOf(bio)->Read(data, size);
}

int BioPuts(BIO* bio, const char* text) {
    return BioWrite(bio, text, static_cast<int>(std::char_traits<char>::length(text)));
}

long BioControl(BIO* bio, int command, long, void*) {
    switch (command) {
    case BIO_CTRL_FLUSH:
        return AdapterOf(bio)->Flush();
    case BIO_CTRL_PUSH:
    case BIO_CTRL_POP:
    case BIO_CTRL_DUP:
        return 1;
    default:
        return 0;
    }
}

int BioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

int BioDestroy(BIO* bio) {
    BIO_set_data(bio, nullptr);
    BIO_set_init(bio, 0);
    return 1;
}

BIO_METHOD* GetMethod() {
    static BIO_METHOD* method = nullptr;
    static std::once_flag once;
    std::call_once(once, [] {
        method = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "keel stream");
        BIO_meth_set_write(method, &BioWrite);
        BIO_meth_set_read(method, &BioRead);
        BIO_meth_set_puts(method, &BioPuts);
        BIO_meth_set_ctrl(method, &BioControl);
        BIO_meth_set_create(method, &BioCreate);
        BIO_meth_set_destroy(method, &BioDestroy);
    });
    return method;
}

} // namespace

KL_TlsStreamAdapter::KL_TlsStreamAdapter(const KL_InputStreamReference& input,
                                         const KL_OutputStreamReference& output)
    : m_Input(input), m_Output(output) {}

bio_st* KL_TlsStreamAdapter::CreateBio() {
    BIO* bio = BIO_new(GetMethod());
    if (bio != nullptr) {
        BIO_set_data(bio, this);
    }
    return bio;
}

int KL_TlsStreamAdapter::TakeStreamValue() {
    const int value = m_StreamValue;
    m_StreamValue = 0;
    return value;
}

int KL_TlsStreamAdapter::SaveFailure(KL_Result result) {
    if (result == KL_ERROR_EOS) {
        m_StreamValue = KL_TLS_LIBRARY_EOS;
        return 0;
    }
    m_StreamValue = result == KL_ERROR_TIMEOUT ? KL_TLS_LIBRARY_TIMEOUT : KL_TLS_LIBRARY_CONNECTION_LOST;
    return -1;
}

int KL_TlsStreamAdapter::Read(void* buffer, int size) {
    if (m_Input.IsNull()) {
        return SaveFailure(KL_ERROR_INVALID_STATE);
    }
    if (size <= 0) {
        return 0;
    }
    // A source that keeps answering nothing is as good as lost.
    constexpr int kMaxEmptyReads = 1000;
    for (int attempt = 0; attempt < kMaxEmptyReads; ++attempt) {
        KL_Size count = 0;
        const KL_Result result = m_Input->Read(buffer, static_cast<KL_Size>(size), &count);
        if (KL_FAILED(result)) {
            return SaveFailure(result);
        }
        if (count > 0) {
            return static_cast<int>(count);
        }
    }
    return SaveFailure(KL_ERROR_INTERNAL);
}

int KL_TlsStreamAdapter::Write(const void* buffer, int size) {
    if (m_Output.IsNull()) {
        return SaveFailure(KL_ERROR_INVALID_STATE);
    }
    if (size <= 0) {
        return 0;
    }
    const KL_Result result = m_Output->WriteFully(buffer, static_cast<KL_Size>(size));
    if (KL_FAILED(result)) {
        const int value = SaveFailure(result);
        return value == 0 ? -1 : value;
    }
    return size;
}

int KL_TlsStreamAdapter::Flush() {
    if (m_Output.IsNull()) {
        return 0;
    }
    return KL_SUCCEEDED(m_Output->Flush()) ? 1 : 0;
}
