// Check macros: evaluate a result once; on failure log it (with the code's name and the
// expression) at the chosen level and return it to the caller. Every file that uses them
// declares its logger with KL_SET_LOCAL_LOGGER.
//
//   KL_CHECK(stream->Write(data, size, nullptr));   // WARNING
//   KL_CHECK_SEVERE(socket.Bind(address));
//   KL_CHECK_POINTER(buffer);                        // null: SEVERE, KL_ERROR_INVALID_PARAMETERS
#pragma once

#include "KL_Log.h"
#include "KL_Result.h"

// The log line of a failed check alone (no return); text is the expression in parentheses.
#define KL_LOG_CHECK_FAILED(level, result, text)                                                             \
    KL_LOG((level), "KL_CHECK failed, result=%d (%s) [%s]", static_cast<int>(result),                        \
           KL_GetResultText(result), text)

#define KL_CHECK_LEVEL(level, expr)                                                                          \
    do {                                                                                                     \
        KL_Result kl_check_result_ = (expr);                                                                 \
        if (KL_FAILED(kl_check_result_)) {                                                                   \
            KL_LOG_CHECK_FAILED(level, kl_check_result_, "(" #expr ")");                                     \
            return kl_check_result_;                                                                         \
        }                                                                                                    \
    } while (0)

#define KL_CHECK(expr) KL_CHECK_LEVEL(KL_LOG_LEVEL_WARNING, expr)
#define KL_CHECK_FATAL(expr) KL_CHECK_LEVEL(KL_LOG_LEVEL_FATAL, expr)
#define KL_CHECK_SEVERE(expr) KL_CHECK_LEVEL(KL_LOG_LEVEL_SEVERE, expr)
#define KL_CHECK_WARNING(expr) KL_CHECK_LEVEL(KL_LOG_LEVEL_WARNING, expr)
#define KL_CHECK_INFO(expr) KL_CHECK_LEVEL(KL_LOG_LEVEL_INFO, expr)
#define KL_CHECK_FINE(expr) KL_CHECK_LEVEL(KL_LOG_LEVEL_FINE, expr)
#define KL_CHECK_FINER(expr) KL_CHECK_LEVEL(KL_LOG_LEVEL_FINER, expr)
#define KL_CHECK_FINEST(expr) KL_CHECK_LEVEL(KL_LOG_LEVEL_FINEST, expr)

// A null pointer parameter: log "@@@ NULL pointer parameter" at the level, return
// KL_ERROR_INVALID_PARAMETERS.
#define KL_CHECK_POINTER_LEVEL(level, p)                                                                     \
    do {                                                                                                     \
        if ((p) == nullptr) {                                                                                \
            KL_LOG((level), "%s", "@@@ NULL pointer parameter");                                             \
            return KL_ERROR_INVALID_PARAMETERS;                                                              \
        }                                                                                                    \
    } while (0)

#define KL_CHECK_POINTER(p) KL_CHECK_POINTER_LEVEL(KL_LOG_LEVEL_SEVERE, p)
#define KL_CHECK_POINTER_SEVERE(p) KL_CHECK_POINTER_LEVEL(KL_LOG_LEVEL_SEVERE, p)
#define KL_CHECK_POINTER_WARNING(p) KL_CHECK_POINTER_LEVEL(KL_LOG_LEVEL_WARNING, p)
