// Names of the result codes, generated from the one list in KL_Result.h.
#include "KL_Result.h"

const char* KL_GetResultText(KL_Result result) {
    switch (result) {
    case KL_SUCCESS:
        return "SUCCESS";
    case KL_FAILURE:
        return "FAILURE";
#define KL_RESULT_NAME_CASE(name, code)                                                                      \
    case code:                                                                                               \
        return #name;
        KL_RESULT_LIST(KL_RESULT_NAME_CASE)
#undef KL_RESULT_NAME_CASE
    default:
        return "UNKNOWN";
    }
}
