// KL_StreamToStreamCopy: input to output through one 64 KiB heap buffer.
#include "KL_StreamToStreamCopy.h"

#include "KL_Check.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <new>
#include <thread>

KL_SET_LOCAL_LOGGER("keel.streams");

namespace {
constexpr KL_Size KL_COPY_BUFFER_SIZE = 0x10000;
constexpr int KL_COPY_FIRST_PAUSE_MS = 1;
constexpr int KL_COPY_LONGEST_PAUSE_MS = 50;

// Writes all count bytes, pausing between retries while the output would block.
KL_Result WriteAll(KL_OutputStream& to, const KL_Byte* data, KL_Size count, KL_LargeSize& bytes_written) {
    int pause_ms = KL_COPY_FIRST_PAUSE_MS;
    while (count != 0) {
        KL_Size written = 0;
        KL_Result result = to.Write(data, count, &written);
        written = std::min(written, count);
        bytes_written += written;
        data += written;
        count -= written;
        if (result == KL_ERROR_WOULD_BLOCK) {
            if (written == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
                pause_ms = std::min(pause_ms * 2, KL_COPY_LONGEST_PAUSE_MS);
            }
            continue;
        }
        if (KL_FAILED(result)) {
            return result;
        }
        if (written == 0) {
            return KL_ERROR_INTERNAL; // an output that takes nothing would loop for ever
        }
        pause_ms = KL_COPY_FIRST_PAUSE_MS;
    }
    return KL_SUCCESS;
}
} // namespace

KL_Result KL_StreamToStreamCopy(KL_InputStream& from, KL_OutputStream& to, KL_Position offset,
                                KL_LargeSize size, KL_LargeSize* bytes_written) {
    KL_LargeSize written = 0;
    if (bytes_written != nullptr) {
        *bytes_written = 0;
    }
    if (offset != 0) {
        KL_CHECK_FINE(from.Seek(offset));
    }
    std::unique_ptr<KL_Byte[]> buffer(new (std::nothrow) KL_Byte[KL_COPY_BUFFER_SIZE]);
    if (!buffer) {
        return KL_ERROR_OUT_OF_MEMORY;
    }
    KL_Result result = KL_SUCCESS;
    KL_LargeSize copied = 0;
    for (;;) {
        KL_Size pass = KL_COPY_BUFFER_SIZE;
        if (size != 0) {
            if (copied >= size) {
                break;
            }
            pass = static_cast<KL_Size>(std::min<KL_LargeSize>(pass, size - copied));
        }
        KL_Size bytes_read = 0;
        result = from.Read(buffer.get(), pass, &bytes_read);
        bytes_read = std::min(bytes_read, pass);
        if (bytes_read != 0) {
            KL_Result write_result = WriteAll(to, buffer.get(), bytes_read, written);
            if (KL_FAILED(write_result)) {
                result = write_result;
                break;
            }
            copied += bytes_read;
        }
        if (result == KL_ERROR_EOS) {
            // The end of the input ends an open copy; a copy of a given size came up short.
            result = (size == 0 || copied >= size) ? KL_SUCCESS : KL_ERROR_EOS;
            break;
        }
        if (KL_FAILED(result)) {
            break;
        }
        if (bytes_read == 0) {
            result = KL_ERROR_INTERNAL; // an input that gives nothing would loop for ever
            break;
        }
    }
    if (bytes_written != nullptr) {
        *bytes_written = written;
    }
    return result;
}
