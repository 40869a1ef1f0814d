// KL_TlsOutputStream: writes application data into a TLS session.
#pragma once

#include "KL_OutputStream.h"
#include "KL_Reference.h"

class KL_TlsSessionImpl;

class KL_TlsOutputStream : public KL_OutputStream {
public:
    explicit KL_TlsOutputStream(const KL_Reference<KL_TlsSessionImpl>& session);

    [[nodiscard]] KL_Result Write(const void* buffer, KL_Size bytes_to_write,
                                  KL_Size* bytes_written = nullptr) override;
    [[nodiscard]] KL_Result Seek(KL_Position offset) override;
    [[nodiscard]] KL_Result Tell(KL_Position& offset) override;

private:
    KL_Reference<KL_TlsSessionImpl> m_Session;
    KL_Position m_Position = 0;
};
