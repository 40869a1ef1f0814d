// KL_StreamToStreamCopy: copies bytes from an input stream to an output stream through one 64 KiB
// buffer.
#pragma once

#include "KL_InputStream.h"
#include "KL_OutputStream.h"

// Seeks the input to offset when it is not 0, then copies size bytes (0: until the input ends).
// bytes_written tells how much the output took, also on failure. With a size, an input that ends
// before it gives KL_ERROR_EOS; a read or write that makes no progress gives KL_ERROR_INTERNAL;
// KL_ERROR_WOULD_BLOCK from the output is retried after a pause (1 ms, doubling up to 50 ms).
[[nodiscard]] KL_Result KL_StreamToStreamCopy(KL_InputStream& from, KL_OutputStream& to,
                                              KL_Position offset = 0, KL_LargeSize size = 0,
                                              KL_LargeSize* bytes_written = nullptr);
