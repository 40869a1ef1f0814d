// Streams for tests: a scripted source and a scripted sink with failure injection.
#pragma once

#include "KL_InputStream.h"
#include "KL_OutputStream.h"

#include <algorithm>
#include <cstring>
#include <string>

// Gives its bytes at most `chunk` at a time. Call number `fail_on_call` (1-based, counting every
// call) fails with `failure`; with `stall` set it succeeds with 0 bytes instead.
class ScriptedInputStream : public KL_InputStream {
public:
    explicit ScriptedInputStream(std::string data, KL_Size chunk = 0xFFFFFFFFu)
        : m_Data(std::move(data)), m_Chunk(chunk) {}

    int fail_on_call = 0;
    KL_Result failure = KL_ERROR_READ_FAILED;
    bool stall = false;
    bool size_known = true;
    KL_LargeSize declared_size = 0; // reported instead of the real size when not 0
    int reads = 0;
    int seeks = 0;
    int Calls() const { return m_Calls; }

    KL_Result Read(void* buffer, KL_Size n, KL_Size* bytes_read = nullptr) override {
        ++reads;
        if (bytes_read != nullptr) {
            *bytes_read = 0;
        }
        if (Fails()) {
            return stall ? KL_SUCCESS : failure;
        }
        if (n == 0) {
            return KL_SUCCESS;
        }
        if (m_Position >= m_Data.size()) {
            return KL_ERROR_EOS;
        }
        size_t count = std::min<size_t>({n, m_Chunk, m_Data.size() - m_Position});
        std::memcpy(buffer, m_Data.data() + m_Position, count);
        m_Position += count;
        if (bytes_read != nullptr) {
            *bytes_read = static_cast<KL_Size>(count);
        }
        return KL_SUCCESS;
    }
    KL_Result Seek(KL_Position offset) override {
        ++seeks;
        if (Fails()) {
            return failure;
        }
        if (offset > m_Data.size()) {
            return KL_ERROR_OUT_OF_RANGE;
        }
        m_Position = offset;
        return KL_SUCCESS;
    }
    KL_Result Tell(KL_Position& offset) override {
        offset = m_Position;
        return Fails() ? failure : KL_SUCCESS;
    }
    KL_Result GetSize(KL_LargeSize& size) override {
        size = declared_size != 0 ? declared_size : m_Data.size();
        return Fails() ? failure : (size_known ? KL_SUCCESS : KL_ERROR_NOT_SUPPORTED);
    }
    KL_Result GetAvailable(KL_LargeSize& available) override {
        available = 0;
        return Fails() ? failure : KL_ERROR_NOT_SUPPORTED;
    }

private:
    bool Fails() { return ++m_Calls == fail_on_call; }

    std::string m_Data;
    KL_Size m_Chunk;
    size_t m_Position = 0;
    int m_Calls = 0;
};

// Collects what is written, at most `chunk` bytes per call. Call `fail_on_call` fails with
// `failure` (or takes 0 bytes with `stall`); the first `would_block` calls give
// KL_ERROR_WOULD_BLOCK.
class ScriptedOutputStream : public KL_OutputStream {
public:
    explicit ScriptedOutputStream(KL_Size chunk = 0xFFFFFFFFu) : m_Chunk(chunk) {}

    int fail_on_call = 0;
    KL_Result failure = KL_ERROR_WRITE_FAILED;
    bool stall = false;
    int would_block = 0;
    std::string data;

    KL_Result Write(const void* bytes, KL_Size n, KL_Size* bytes_written = nullptr) override {
        if (bytes_written != nullptr) {
            *bytes_written = 0;
        }
        if (++m_Calls == fail_on_call) {
            return stall ? KL_SUCCESS : failure;
        }
        if (would_block > 0) {
            --would_block;
            return KL_ERROR_WOULD_BLOCK;
        }
        KL_Size count = std::min(n, m_Chunk);
        data.append(static_cast<const char*>(bytes), count);
        if (bytes_written != nullptr) {
            *bytes_written = count;
        }
        return KL_SUCCESS;
    }
    KL_Result Seek(KL_Position) override { return KL_ERROR_NOT_SUPPORTED; }
    KL_Result Tell(KL_Position& offset) override {
        offset = data.size();
        return KL_SUCCESS;
    }

private:
    KL_Size m_Chunk;
    int m_Calls = 0;
};
