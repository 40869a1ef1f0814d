// UPnP errors that an action call answers with (the code and description of the SOAP fault).
// The list below is the only place an error is declared: it generates the constants, each one a
// code with the exact text the client receives. Where two parts of the system answer one code with
// two texts, each text is an entry of its own, used only where that text belongs.
#pragma once

#include <cstdint>

struct UP_ActionError {
    uint32_t code;
    const char* description;
};

// X(name, code, description)
#define UP_ACTION_ERROR_LIST(X)                                                                              \
    /* The device host (UP_DeviceHost, UP_DeviceHostSoap.cpp). */                                            \
    X(UP_ACTION_ERROR_INVALID_ACTION, 401, "Invalid Action")                                                 \
    X(UP_ACTION_ERROR_INVALID_OR_MISSING_ARGS, 402, "Invalid or Missing Args")                               \
    X(UP_ACTION_ERROR_ACTION_FAILED, 501, "Action Failed")                                                   \
    X(UP_ACTION_ERROR_INVALID_NAME, 701, "Invalid Name")                                                     \
    /* The media server's actions (UP_MediaServer). */                                                       \
    X(UP_ACTION_ERROR_NO_SUCH_ACTION, 401, "No Such Action.")                                                \
    X(UP_ACTION_ERROR_INVALID_ARGS, 402, "Invalid args")                                                     \
    X(UP_ACTION_ERROR_NO_SUCH_CONNECTION, 706, "No Such Connection.")                                        \
    X(UP_ACTION_ERROR_INVALID_SORT_CRITERIA, 709, "Unsupported or invalid sort criteria error")              \
    X(UP_ACTION_ERROR_INTERNAL, 800, "Internal error")                                                       \
    /* The file delegate's content lookups (UP_FileMediaServerDelegate). */                                  \
    X(UP_ACTION_ERROR_NO_SUCH_OBJECT, 701, "No Such Object.")                                                \
    X(UP_ACTION_ERROR_NO_SUCH_OBJECT_TO_LIST, 701, "No such Object")                                         \
    X(UP_ACTION_ERROR_INVALID_SEARCH_CRITERIA, 708, "Unsupported or invalid search criteria")                \
    X(UP_ACTION_ERROR_NO_SUCH_CONTAINER, 710, "No Such Container.")                                          \
    X(UP_ACTION_ERROR_NOT_A_CONTAINER, 710, "No such container")

#define UP_ACTION_ERROR_DECLARE_CONSTANT(name, code, description)                                            \
    constexpr UP_ActionError name = {code, description};
UP_ACTION_ERROR_LIST(UP_ACTION_ERROR_DECLARE_CONSTANT)
#undef UP_ACTION_ERROR_DECLARE_CONSTANT
