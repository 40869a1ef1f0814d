// KL_FileInterface: what a file delegate does (open, close, hand out streams), and the open modes.
#pragma once

#include "KL_InputStream.h"
#include "KL_OutputStream.h"
#include "KL_Result.h"
#include "KL_Types.h"

using KL_FileOpenMode = KL_UInt32;

constexpr KL_FileOpenMode KL_FILE_OPEN_MODE_READ = 0x01;
constexpr KL_FileOpenMode KL_FILE_OPEN_MODE_WRITE = 0x02;
constexpr KL_FileOpenMode KL_FILE_OPEN_MODE_CREATE = 0x04;
constexpr KL_FileOpenMode KL_FILE_OPEN_MODE_TRUNCATE = 0x08;
constexpr KL_FileOpenMode KL_FILE_OPEN_MODE_UNBUFFERED = 0x10;
constexpr KL_FileOpenMode KL_FILE_OPEN_MODE_APPEND = 0x20;

// Paths naming the process's standard streams.
constexpr const char* KL_FILE_STANDARD_INPUT = "@STDIN";
constexpr const char* KL_FILE_STANDARD_OUTPUT = "@STDOUT";
constexpr const char* KL_FILE_STANDARD_ERROR = "@STDERR";

class KL_FileInterface {
public:
    virtual ~KL_FileInterface() = default;

    [[nodiscard]] virtual KL_Result Open(KL_FileOpenMode mode) = 0;
    // Streams handed out keep the file open; the last one closes it. The result is the close's
    // own when this was the last holder.
    virtual KL_Result Close() = 0;
    [[nodiscard]] virtual KL_Result GetInputStream(KL_InputStreamReference& stream) = 0;
    [[nodiscard]] virtual KL_Result GetOutputStream(KL_OutputStreamReference& stream) = 0;
};
