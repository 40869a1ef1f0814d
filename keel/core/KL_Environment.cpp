#include "KL_Environment.h"

#include "KL_Check.h"

#include <cstdlib>

KL_SET_LOCAL_LOGGER("keel.system");

KL_Result KL_Environment::Get(const char* name, KL_String& value) {
    value = "";
    KL_CHECK_POINTER(name);
    const char* found = getenv(name);
    if (found == nullptr) {
        return KL_ERROR_NO_SUCH_ITEM;
    }
    value = found;
    return KL_SUCCESS;
}

KL_Result KL_Environment::Set(const char* name, const char* value) {
    KL_CHECK_POINTER(name);
    if (value != nullptr) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
    return KL_SUCCESS;
}
