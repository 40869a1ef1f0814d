// KL_FilePath: path texts.
#include "KL_FilePath.h"

#include <cstring>

KL_String KL_FilePath::BaseName(const char* path, bool with_extension) {
    KL_String text(path);
    int separator = text.ReverseFind('/');
    KL_String base = separator >= 0 ? text.SubString(static_cast<KL_Index>(separator) + 1) : text;
    if (!with_extension) {
        int dot = base.ReverseFind('.');
        if (dot >= 0) {
            base = base.Left(static_cast<KL_Size>(dot));
        }
    }
    return base;
}

KL_String KL_FilePath::DirName(const char* path) {
    KL_String text(path);
    int separator = text.ReverseFind('/');
    if (separator < 0) {
        return KL_String();
    }
    if (separator == 0) {
        return KL_String(Separator);
    }
    return text.Left(static_cast<KL_Size>(separator));
}

KL_String KL_FilePath::FileExtension(const char* path) {
    KL_String text(path);
    int dot = text.ReverseFind('.');
    if (dot < 0) {
        return KL_String();
    }
    return text.SubString(static_cast<KL_Index>(dot));
}

KL_String KL_FilePath::Create(const char* directory, const char* file) {
    if (directory == nullptr || directory[0] == '\0') {
        return KL_String(file);
    }
    if (file == nullptr || file[0] == '\0') {
        return KL_String(directory);
    }
    KL_String result(directory);
    if (!result.EndsWith(Separator) && file[0] != '/') {
        result += Separator;
    }
    result += file;
    return result;
}
