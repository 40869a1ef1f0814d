// KL_FileInfo: what the file system tells about one path.
#pragma once

#include "KL_TimeStamp.h"
#include "KL_Types.h"

struct KL_FileInfo {
    enum Type : KL_UInt32 {
        FILE_TYPE_NONE = 0,
        FILE_TYPE_REGULAR = 1,
        FILE_TYPE_DIRECTORY = 2,
        FILE_TYPE_SPECIAL = 3, // "@STDIN", "@STDOUT", "@STDERR"
        FILE_TYPE_OTHER = 4,
    };
    static constexpr KL_UInt32 ATTRIBUTE_READ_ONLY = 0x01;

    Type m_Type = FILE_TYPE_NONE;
    KL_LargeSize m_Size = 0;
    KL_UInt32 m_AttributesMask = 0; // which attribute bits are known
    KL_UInt32 m_Attributes = 0;
    KL_TimeStamp m_CreationTime;     // whole seconds; 0 where the file system keeps none
    KL_TimeStamp m_ModificationTime; // whole seconds
};
