// KL_ClosableOutputStream: passes writes through to its target until closed, then takes and drops
// them. An HTTP server wraps its connection in one so that a chunked body that failed half way
// does not get its last chunk, or the client would take the cut body for the whole one.
#pragma once

#include "KL_OutputStream.h"

class KL_ClosableOutputStream : public KL_OutputStream {
public:
    explicit KL_ClosableOutputStream(KL_OutputStream& target) : m_Target(target) {}

    void Close() { m_Closed = true; }

    [[nodiscard]] KL_Result Write(const void* data, KL_Size bytes_to_write, KL_Size* bytes_written) override {
        if (m_Closed) {
            if (bytes_written != nullptr) {
                *bytes_written = bytes_to_write;
            }
            return KL_SUCCESS;
        }
        return m_Target.Write(data, bytes_to_write, bytes_written);
    }
    [[nodiscard]] KL_Result Seek(KL_Position offset) override { return m_Target.Seek(offset); }
    [[nodiscard]] KL_Result Tell(KL_Position& offset) override { return m_Target.Tell(offset); }
    [[nodiscard]] KL_Result Flush() override { return m_Closed ? KL_SUCCESS : m_Target.Flush(); }

private:
    KL_OutputStream& m_Target;
    bool m_Closed = false;
};
