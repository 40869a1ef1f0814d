// Streams the HTTP tests feed their parsers with: exact bytes in pieces of a chosen size ending
// with a chosen result, endless repetitions of a pattern, and a connection that counts what
// happens to it.
#pragma once

#include "KL_BufferedInputStream.h"
#include "KL_HttpClient.h"
#include "KL_InputStream.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace http_test {

// Delivers the bytes at most piece bytes per read, then answers end_result for ever. With
// FailAtCall (n, code) the n-th read (from 1) fails with the code instead.
class ScriptedInputStream : public KL_InputStream {
public:
    explicit ScriptedInputStream(std::string bytes, KL_Result end_result = KL_ERROR_EOS,
                                 KL_Size piece = 0xFFFFFFFF)
        : m_Bytes(std::move(bytes)), m_EndResult(end_result), m_Piece(piece) {}
    void FailAtCall(int call, KL_Result failure) {
        m_FailAtCall = call;
        m_Failure = failure;
    }
    bool Failed() const { return m_FailAtCall > 0 && m_Calls >= m_FailAtCall; }
    KL_Result Read(void* buffer, KL_Size bytes_to_read, KL_Size* bytes_read) override {
        if (bytes_read != nullptr) {
            *bytes_read = 0;
        }
        if (bytes_to_read == 0) {
            return KL_SUCCESS;
        }
        if (++m_Calls == m_FailAtCall) {
            return m_Failure;
        }
        if (m_Offset >= m_Bytes.size()) {
            return m_EndResult;
        }
        const size_t count = std::min<size_t>({bytes_to_read, m_Piece, m_Bytes.size() - m_Offset});
        std::memcpy(buffer, m_Bytes.data() + m_Offset, count);
        m_Offset += count;
        if (bytes_read != nullptr) {
            *bytes_read = static_cast<KL_Size>(count);
        }
        return KL_SUCCESS;
    }
    KL_Result Seek(KL_Position) override { return KL_ERROR_NOT_SUPPORTED; }
    KL_Result Tell(KL_Position& offset) override {
        offset = m_Offset;
        return KL_SUCCESS;
    }
    KL_Result GetSize(KL_LargeSize&) override { return KL_ERROR_NOT_SUPPORTED; }
    KL_Result GetAvailable(KL_LargeSize& available) override {
        available = m_Bytes.size() - m_Offset;
        return KL_SUCCESS;
    }
    size_t Remaining() const { return m_Bytes.size() - m_Offset; }

private:
    std::string m_Bytes;
    KL_Result m_EndResult;
    size_t m_Piece;
    size_t m_Offset = 0;
    int m_Calls = 0;
    int m_FailAtCall = 0;
    KL_Result m_Failure = KL_SUCCESS;
};

// The pattern again and again; counts the bytes handed out.
class EndlessInputStream : public KL_InputStream {
public:
    explicit EndlessInputStream(std::string prefix, std::string pattern)
        : m_Prefix(std::move(prefix)), m_Pattern(std::move(pattern)) {}
    KL_Result Read(void* buffer, KL_Size bytes_to_read, KL_Size* bytes_read) override {
        char* out = static_cast<char*>(buffer);
        for (KL_Size i = 0; i < bytes_to_read; ++i, ++m_Delivered) {
            out[i] = m_Delivered < m_Prefix.size()
                         ? m_Prefix[m_Delivered]
                         : m_Pattern[(m_Delivered - m_Prefix.size()) % m_Pattern.size()];
        }
        if (bytes_read != nullptr) {
            *bytes_read = bytes_to_read;
        }
        return KL_SUCCESS;
    }
    KL_Result Seek(KL_Position) override { return KL_ERROR_NOT_SUPPORTED; }
    KL_Result Tell(KL_Position& offset) override {
        offset = m_Delivered;
        return KL_SUCCESS;
    }
    KL_Result GetSize(KL_LargeSize&) override { return KL_ERROR_NOT_SUPPORTED; }
    KL_Result GetAvailable(KL_LargeSize& available) override {
        available = 0;
        return KL_SUCCESS;
    }
    uint64_t Delivered() const { return m_Delivered; }

private:
    std::string m_Prefix;
    std::string m_Pattern;
    uint64_t m_Delivered = 0;
};

// Counts Recycle calls and deletion; Recycle takes the connection out of its owner's hands, so
// the test deletes it afterwards as the pool would.
struct ConnectionLog {
    int recycled = 0;
    int deleted = 0;
};

class FakeConnection : public KL_HttpClient::Connection {
public:
    explicit FakeConnection(ConnectionLog& log) : m_Log(log) {}
    ~FakeConnection() override { ++m_Log.deleted; }
    KL_InputStreamReference& GetInputStream() override { return m_Input; }
    KL_OutputStreamReference& GetOutputStream() override { return m_Output; }
    KL_Result GetInfo(KL_SocketInfo&) override { return KL_ERROR_NOT_SUPPORTED; }
    bool SupportsPersistence() override { return true; }
    bool IsRecycled() override { return false; }
    KL_Result Recycle() override {
        ++m_Log.recycled;
        delete this; // the pool would keep it; here it simply goes
        return KL_SUCCESS;
    }
    KL_Result Abort() override { return KL_SUCCESS; }

private:
    ConnectionLog& m_Log;
    KL_InputStreamReference m_Input;
    KL_OutputStreamReference m_Output;
};

// A buffered stream over scripted bytes, as a connection's input looks to the parsers.
inline KL_InputStreamReference Buffered(const std::string& bytes, KL_Result end_result = KL_ERROR_EOS,
                                        KL_Size piece = 0xFFFFFFFF) {
    KL_InputStreamReference raw(new ScriptedInputStream(bytes, end_result, piece), true);
    return KL_InputStreamReference(new KL_BufferedInputStream(raw), true);
}

inline KL_BufferedInputStream& AsBuffered(const KL_InputStreamReference& stream) {
    return static_cast<KL_BufferedInputStream&>(*stream);
}

inline std::string ReadDataFile(const std::string& name) {
    std::ifstream file(std::string(KEEL_TEST_DATA_DIR) + "/http/" + name, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

// Reads a stream to its end (or first failure), collecting the bytes.
inline KL_Result Drain(KL_InputStream& stream, std::string& out, KL_Size piece = 4096) {
    std::string buffer(piece, '\0');
    for (;;) {
        KL_Size count = 0;
        const KL_Result result = stream.Read(buffer.data(), piece, &count);
        out.append(buffer.data(), count);
        if (KL_FAILED(result)) {
            return result;
        }
    }
}

// A random seed, printed; KEEL_TEST_SEED gives a failing run's seed again.
inline unsigned TestSeed(const char* what) {
    const char* given = std::getenv("KEEL_TEST_SEED");
    const unsigned seed =
        given != nullptr ? static_cast<unsigned>(std::strtoul(given, nullptr, 10)) : std::random_device{}();
    std::printf("%s seed %u\n", what, seed);
    return seed;
}

} // namespace http_test
