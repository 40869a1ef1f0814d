// KL_HttpEntityBodyInputStream: one message body read off a connection, bounded by its length
// or decoded from the chunked coding. A client connection that may persist goes back to the
// pool once the body has been read to its end; otherwise deleting the stream closes it.
#pragma once

#include "KL_BufferedInputStream.h"
#include "KL_HttpClient.h"
#include "KL_InputStream.h"

#include <cstdint>

class KL_HttpEntityBodyInputStream : public KL_InputStream {
public:
    // connection (may be null) is owned from here on until it is recycled.
    KL_HttpEntityBodyInputStream(const KL_InputStreamReference& source, uint64_t size, bool size_is_known,
                                 bool chunked, KL_HttpClient::Connection* connection, bool should_persist);
    ~KL_HttpEntityBodyInputStream() override;

    // KL_ERROR_EOS once the body is complete. A body of known length whose connection ends
    // early gives KL_ERROR_CONNECTION_ABORTED (and the connection is never recycled).
    [[nodiscard]] KL_Result Read(void* buffer, KL_Size bytes_to_read, KL_Size* bytes_read = nullptr) override;
    [[nodiscard]] KL_Result Seek(uint64_t offset) override;
    [[nodiscard]] KL_Result Tell(uint64_t& offset) override;
    [[nodiscard]] KL_Result GetSize(uint64_t& size) override;
    [[nodiscard]] KL_Result GetAvailable(uint64_t& available) override;

    // The body has been read to its end: drops the source and recycles the connection.
    virtual KL_Result OnFullyRead();

private:
    // Ends at the content length (a chunked body ends with its last chunk instead).
    bool IsBoundedByLength() const;

    uint64_t m_Size;
    bool m_SizeIsKnown;
    bool m_Chunked;
    KL_HttpClient::Connection* m_Connection;
    bool m_ShouldPersist;
    uint64_t m_Position = 0;
    KL_InputStreamReference m_Source;
    KL_Result m_Failure = KL_SUCCESS; // once set, every further read returns it
};
