// KL_FilePath: operations on the text of a path (separator "/"); nothing touches the file system.
#pragma once

#include "KL_String.h"

class KL_FilePath {
public:
    static constexpr const char* Separator = "/";

    // The text after the last separator (all of it when there is none); without the extension,
    // cut at its last "." (kept whole when it has none).
    static KL_String BaseName(const char* path, bool with_extension = true);
    // The text before the last separator; "/" when that separator is the first character; empty
    // when there is none.
    static KL_String DirName(const char* path);
    // The text from the last "." on, the "." included; empty when there is none.
    static KL_String FileExtension(const char* path);
    // directory + "/" + file with exactly one separator between them (either may be empty).
    static KL_String Create(const char* directory, const char* file);
};
