// KL_StringOutputStream: an output stream that appends to a string, its own or a caller's.
#pragma once

#include "KL_OutputStream.h"
#include "KL_String.h"

class KL_StringOutputStream : public KL_OutputStream {
public:
    // Creates and owns a new empty string reserved to reserve_size characters.
    explicit KL_StringOutputStream(KL_Size reserve_size = 4096);
    // Appends to the caller's string, which must outlive the stream.
    explicit KL_StringOutputStream(KL_String* string);
    ~KL_StringOutputStream() override;
    KL_StringOutputStream(const KL_StringOutputStream&) = delete;
    KL_StringOutputStream& operator=(const KL_StringOutputStream&) = delete;

    const KL_String& GetString() const { return *m_String; }

    [[nodiscard]] KL_Result Write(const void* data, KL_Size bytes_to_write,
                                  KL_Size* bytes_written = nullptr) override;
    [[nodiscard]] KL_Result Seek(KL_Position offset) override;
    [[nodiscard]] KL_Result Tell(KL_Position& offset) override;

private:
    KL_String* m_String;
    bool m_StringIsOwned;
};

using KL_StringOutputStreamReference = KL_Reference<KL_StringOutputStream>;
