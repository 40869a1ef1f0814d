// Error numbers of file operations as result codes (by errno name; unmapped e gives -22000 - e).
#pragma once

#include "KL_Result.h"

// mkdir, unlink, rmdir, rename, stat, getcwd, opening directories, flushing and closing files.
KL_Result KL_MapFileErrno(int e);
// fopen and fread: the same without EEXIST, ENOSPC and ENOTEMPTY.
KL_Result KL_MapStdcFileErrno(int e);
