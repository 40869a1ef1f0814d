// KL_TlsStreamAdapter: carries a TLS session's ciphertext over the runtime's byte streams. It
// makes an OpenSSL BIO whose reads and writes go to the underlying input and output streams,
// and remembers how the last failing stream call failed, as a library value: the end of the
// stream -276, a time-out -275, any other failure -256.
#pragma once

#include "KL_InputStream.h"
#include "KL_OutputStream.h"

struct bio_st;

class KL_TlsStreamAdapter {
public:
    KL_TlsStreamAdapter(const KL_InputStreamReference& input, const KL_OutputStreamReference& output);
    KL_TlsStreamAdapter(const KL_TlsStreamAdapter&) = delete;
    KL_TlsStreamAdapter& operator=(const KL_TlsStreamAdapter&) = delete;

    // A new BIO over this adapter (freed by the session that takes it; the adapter outlives it).
    bio_st* CreateBio();

    // The value saved by the last failing stream call, cleared by reading it.
    int TakeStreamValue();

    // The BIO's operations: bytes moved, or -1 (end of stream: 0) with the value saved.
    int Read(void* buffer, int size);
    int Write(const void* buffer, int size);
    int Flush();

private:
    int SaveFailure(KL_Result result);

    KL_InputStreamReference m_Input;
    KL_OutputStreamReference m_Output;
    int m_StreamValue = 0;
};
