// KL_NullOutputStream: a sink that discards everything.
#include "KL_NullOutputStream.h"

KL_Result KL_NullOutputStream::Write(const void*, KL_Size bytes_to_write, KL_Size* bytes_written) {
    if (bytes_written != nullptr) {
        *bytes_written = bytes_to_write;
    }
    return KL_SUCCESS;
}

KL_Result KL_NullOutputStream::Seek(KL_Position) {
    return KL_ERROR_NOT_SUPPORTED;
}

KL_Result KL_NullOutputStream::Tell(KL_Position&) {
    return KL_ERROR_NOT_SUPPORTED;
}
