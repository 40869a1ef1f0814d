// KL_StdcFileWrapper: the open-file record shared by a KL_StdcFile and the streams it hands out.
// The handle is closed when the last reference goes (the three standard streams never are).
#pragma once

#include "KL_Reference.h"
#include "KL_Result.h"
#include "KL_String.h"

#include <cstdio>

class KL_StdcFileWrapper {
public:
    KL_StdcFileWrapper(FILE* file, const char* name, bool is_standard);
    ~KL_StdcFileWrapper();
    KL_StdcFileWrapper(const KL_StdcFileWrapper&) = delete;
    KL_StdcFileWrapper& operator=(const KL_StdcFileWrapper&) = delete;

    FILE* GetFile() const { return m_File; }
    const KL_String& GetName() const { return m_Name; }
    // Closes the handle now (standard output and error are flushed instead, standard input left
    // alone) and answers the outcome.
    KL_Result Close();

private:
    FILE* m_File;
    KL_String m_Name;
    bool m_IsStandard;
};

using KL_StdcFileReference = KL_Reference<KL_StdcFileWrapper>;
