// KL_InputStream: the default operations of every input stream.
#include "KL_InputStream.h"

#include "KL_Check.h"

#include <algorithm>

KL_SET_LOCAL_LOGGER("keel.streams");

namespace {
// The largest reservation made before bytes have arrived.
constexpr KL_Size KL_READ_ALL_INITIAL_RESERVE = 0x10000;
// The chunk read when the stream cannot tell how much is available.
constexpr KL_Size KL_READ_ALL_DEFAULT_CHUNK = 4096;
} // namespace

KL_Result KL_InputStream::ReadAll(KL_DataBuffer& buffer, KL_Size max_read) {
    KL_CHECK(buffer.SetDataSize(0));
    if (max_read > KL_INPUT_STREAM_MAX_READ_ALL) {
        return KL_ERROR_INVALID_PARAMETERS;
    }

    // A size of 0 is what streams that cannot tell their size (HTTP bodies) answer.
    KL_LargeSize target = max_read;
    KL_LargeSize size = 0;
    if (KL_SUCCEEDED(GetSize(size)) && size != 0) {
        target = (max_read != 0) ? std::min<KL_LargeSize>(size, max_read) : size;
        if (target > KL_INPUT_STREAM_MAX_READ_ALL) {
            return KL_ERROR_OUT_OF_RANGE;
        }
    }
    // The declared size may come from the peer: reserve a little and grow as bytes arrive.
    if (target != 0) {
        KL_CHECK(buffer.Reserve(
            static_cast<KL_Size>(std::min<KL_LargeSize>(target, KL_READ_ALL_INITIAL_RESERVE))));
    }

    KL_LargeSize total = 0;
    for (;;) {
        KL_LargeSize available = 0;
        KL_LargeSize chunk = KL_READ_ALL_DEFAULT_CHUNK;
        if (KL_SUCCEEDED(GetAvailable(available)) && available != 0) {
            // Never ask for much more than has arrived so far.
            chunk =
                std::min<KL_LargeSize>(available, std::max<KL_LargeSize>(total, KL_READ_ALL_INITIAL_RESERVE));
        }
        if (target != 0) {
            chunk = std::min(chunk, target - total);
        }
        if (chunk == 0) {
            return KL_SUCCESS;
        }
        if (total + chunk > KL_INPUT_STREAM_MAX_READ_ALL) {
            return KL_ERROR_OUT_OF_RANGE;
        }
        KL_CHECK(buffer.Reserve(static_cast<KL_Size>(total + chunk)));
        KL_Size bytes_read = 0;
        KL_Result result = Read(buffer.UseData() + total, static_cast<KL_Size>(chunk), &bytes_read);
        total += bytes_read;
        KL_CHECK(buffer.SetDataSize(static_cast<KL_Size>(total)));
        if (result == KL_ERROR_EOS) {
            return KL_SUCCESS;
        }
        if (KL_FAILED(result)) {
            return result;
        }
        if (bytes_read == 0) {
            return KL_ERROR_INTERNAL; // a stream that makes no progress would loop for ever
        }
        if (target != 0 && total >= target) {
            return KL_SUCCESS;
        }
    }
}

KL_Result KL_InputStream::ReadFully(void* buffer, KL_Size bytes_to_read) {
    if (bytes_to_read == 0) {
        return KL_SUCCESS;
    }
    KL_CHECK_POINTER(buffer);
    auto* cursor = static_cast<KL_Byte*>(buffer);
    while (bytes_to_read != 0) {
        KL_Size bytes_read = 0;
        KL_Result result = Read(cursor, bytes_to_read, &bytes_read);
        if (KL_FAILED(result)) {
            return result;
        }
        if (bytes_read == 0) {
            return KL_ERROR_INTERNAL;
        }
        bytes_to_read -= std::min(bytes_read, bytes_to_read);
        cursor += bytes_read;
    }
    return KL_SUCCESS;
}

KL_Result KL_InputStream::Skip(KL_LargeSize count) {
    KL_Position position = 0;
    KL_CHECK_FINE(Tell(position));
    return Seek(position + count);
}

namespace {
// Reads sizeof(T) bytes (3 for a 24-bit value) big-endian into value; 0 when the read fails.
template <typename T>
KL_Result ReadBigEndian(KL_InputStream& stream, T& value, unsigned int size = sizeof(T)) {
    KL_Byte bytes[sizeof(T)];
    value = 0;
    KL_Result result = stream.ReadFully(bytes, size);
    if (KL_FAILED(result)) {
        return result;
    }
    for (unsigned int i = 0; i < size; ++i) {
        value = static_cast<T>((uint64_t(value) << 8) | bytes[i]);
    }
    return KL_SUCCESS;
}
} // namespace

KL_Result KL_InputStream::ReadUI64(uint64_t& value) {
    return ReadBigEndian(*this, value);
}
KL_Result KL_InputStream::ReadUI32(uint32_t& value) {
    return ReadBigEndian(*this, value);
}
KL_Result KL_InputStream::ReadUI24(uint32_t& value) {
    return ReadBigEndian(*this, value, 3);
}
KL_Result KL_InputStream::ReadUI16(uint16_t& value) {
    return ReadBigEndian(*this, value);
}
KL_Result KL_InputStream::ReadUI08(uint8_t& value) {
    return ReadBigEndian(*this, value);
}
