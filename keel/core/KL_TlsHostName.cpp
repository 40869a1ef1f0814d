#include "KL_TlsHostName.h"

#include "KL_String.h"

#include <cstring>

bool KL_TlsMatchHostName(const char* pattern, const char* name) {
    if (pattern == nullptr || name == nullptr || pattern[0] == '\0' || name[0] == '\0') {
        return false;
    }
    if (pattern[0] != '*') {
        return KL_String::Compare(pattern, name, true) == 0;
    }
    // "*." alone names no domain: it must not cover every name without a dot.
    if (pattern[1] != '.' || pattern[2] == '\0') {
        return false;
    }
    const char* dot = std::strchr(name, '.');
    const char* rest = dot != nullptr ? dot + 1 : "";
    return KL_String::Compare(rest, pattern + 2, true) == 0;
}
