// Environment variables of the process.
#pragma once

#include "KL_Result.h"
#include "KL_String.h"

class KL_Environment {
public:
    // `value` is emptied first; KL_ERROR_NO_SUCH_ITEM when the variable is not set.
    static KL_Result Get(const char* name, KL_String& value);
    // Sets (overwriting) the variable; a null value removes it. Always 0.
    static KL_Result Set(const char* name, const char* value);
};
