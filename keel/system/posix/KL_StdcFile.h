// KL_StdcFile: the file delegate on the C library's standard I/O. "@STDIN", "@STDOUT" and
// "@STDERR" name the process's own streams.
#pragma once

#include "KL_FileInterface.h"
#include "KL_StdcFileWrapper.h"

class KL_File;

class KL_StdcFile : public KL_FileInterface {
public:
    explicit KL_StdcFile(KL_File& delegator);
    ~KL_StdcFile() override;
    KL_StdcFile(const KL_StdcFile&) = delete;
    KL_StdcFile& operator=(const KL_StdcFile&) = delete;

    [[nodiscard]] KL_Result Open(KL_FileOpenMode mode) override;
    KL_Result Close() override;
    [[nodiscard]] KL_Result GetInputStream(KL_InputStreamReference& stream) override;
    [[nodiscard]] KL_Result GetOutputStream(KL_OutputStreamReference& stream) override;

private:
    KL_File& m_Delegator;
    KL_FileOpenMode m_Mode = 0;
    KL_StdcFileReference m_FileReference;
};
