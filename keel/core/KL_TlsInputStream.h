// KL_TlsInputStream: the decrypted bytes of a TLS session.
#pragma once

#include "KL_InputStream.h"
#include "KL_Reference.h"

class KL_TlsSessionImpl;

class KL_TlsInputStream : public KL_InputStream {
public:
    explicit KL_TlsInputStream(const KL_Reference<KL_TlsSessionImpl>& session);

    // A read of 0 bytes gives 0 at once; the peer's close (or the connection's end) gives
    // KL_ERROR_EOS.
    [[nodiscard]] KL_Result Read(void* buffer, KL_Size bytes_to_read, KL_Size* bytes_read = nullptr) override;
    [[nodiscard]] KL_Result Seek(KL_Position offset) override;
    [[nodiscard]] KL_Result Tell(KL_Position& offset) override;
    [[nodiscard]] KL_Result GetSize(KL_LargeSize& size) override;
    [[nodiscard]] KL_Result GetAvailable(KL_LargeSize& available) override;

private:
    KL_Reference<KL_TlsSessionImpl> m_Session;
    KL_Position m_Position = 0;
};
