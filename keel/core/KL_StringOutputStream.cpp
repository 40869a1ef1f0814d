// KL_StringOutputStream: appends written bytes to a string.
#include "KL_StringOutputStream.h"

#include "KL_Check.h"

KL_SET_LOCAL_LOGGER("keel.streams");

KL_StringOutputStream::KL_StringOutputStream(KL_Size reserve_size)
    : m_String(new KL_String()), m_StringIsOwned(true) {
    (void)m_String->Reserve(reserve_size);
}

KL_StringOutputStream::KL_StringOutputStream(KL_String* string) : m_String(string), m_StringIsOwned(false) {}

KL_StringOutputStream::~KL_StringOutputStream() {
    if (m_StringIsOwned) {
        delete m_String;
    }
}

KL_Result KL_StringOutputStream::Write(const void* data, KL_Size bytes_to_write, KL_Size* bytes_written) {
    if (bytes_written != nullptr) {
        *bytes_written = 0;
    }
    if (bytes_to_write == 0) {
        return KL_SUCCESS;
    }
    KL_CHECK_POINTER(data);
    m_String->Append(static_cast<const char*>(data), bytes_to_write);
    if (bytes_written != nullptr) {
        *bytes_written = bytes_to_write;
    }
    return KL_SUCCESS;
}

KL_Result KL_StringOutputStream::Seek(KL_Position) {
    return KL_ERROR_NOT_SUPPORTED;
}

KL_Result KL_StringOutputStream::Tell(KL_Position& offset) {
    offset = m_String->GetLength();
    return KL_SUCCESS;
}
