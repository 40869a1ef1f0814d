// Parameter lists: name=value pairs separated by ";", values optionally quoted.
#include "KL_Utils.h"

namespace {
enum class State { BeforeName, InName, AfterName, BeforeValue, Unquoted, Quoted, AfterQuoted };

inline bool IsControl(char c) {
    return static_cast<unsigned char>(c) < 0x20;
}

void StorePair(KL_String& name, KL_String& value, KL_Map<KL_String, KL_String>& parameters) {
    name.TrimRight();
    value.TrimRight();
    parameters[name] = value;
    name = "";
    value = "";
}

// One character (NUL for the end of the text) in the current state, which it may change.
// Answers KL_ERROR_LIST_OPERATION_CONTINUE to read on, KL_SUCCESS at a successful end.
KL_Result Step(char c, State& state, bool& escaped, KL_String& name, KL_String& value,
               KL_Map<KL_String, KL_String>& parameters) {
    const KL_Result more = KL_ERROR_LIST_OPERATION_CONTINUE;
    switch (state) {
    case State::BeforeName:
        if (c == '\0') {
            return KL_SUCCESS;
        }
        if (c == ' ' || c == '\t') {
            return more;
        }
        if (IsControl(c)) {
            return KL_ERROR_INVALID_SYNTAX;
        }
        state = State::InName;
        return Step(c, state, escaped, name, value, parameters);
    case State::InName:
        if (IsControl(c)) {
            return KL_ERROR_INVALID_SYNTAX;
        }
        if (c == ' ' || c == '=') {
            state = c == ' ' ? State::AfterName : State::BeforeValue;
        } else {
            name += c;
        }
        return more;
    case State::AfterName:
        if (c == ' ') {
            return more;
        }
        if (c != '=') {
            return KL_ERROR_INVALID_SYNTAX;
        }
        state = State::BeforeValue;
        return more;
    case State::BeforeValue:
        if (c == ' ') {
            return more;
        }
        if (IsControl(c)) {
            return KL_ERROR_INVALID_SYNTAX;
        }
        if (c == '"') {
            state = State::Quoted;
            return more;
        }
        state = State::Unquoted;
        return Step(c, state, escaped, name, value, parameters);
    case State::Unquoted:
        if (c == ';' || c == '\0') {
            StorePair(name, value, parameters);
            state = State::BeforeName;
            return c == '\0' ? KL_SUCCESS : more;
        }
        if (IsControl(c)) {
            return KL_ERROR_INVALID_SYNTAX;
        }
        value += c;
        return more;
    case State::Quoted:
        if (escaped) {
            if (c == '\0') {
                return KL_ERROR_INVALID_SYNTAX;
            }
            escaped = false;
            value += c;
        } else if (c == '\\') {
            escaped = true;
        } else if (c == '"') {
            StorePair(name, value, parameters);
            state = State::AfterQuoted;
        } else if (IsControl(c)) {
            return KL_ERROR_INVALID_SYNTAX;
        } else {
            value += c;
        }
        return more;
    case State::AfterQuoted:
        if (c == '\0') {
            return KL_SUCCESS;
        }
        if (c == ' ') {
            return more;
        }
        if (c == ';') {
            state = State::BeforeName;
            return more;
        }
        return KL_ERROR_INVALID_SYNTAX;
    }
    return KL_ERROR_INTERNAL;
}
} // namespace

KL_Result KL_ParseParameterList(const char* text, KL_Map<KL_String, KL_String>& parameters) {
    if (text == nullptr) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    KL_String name;
    KL_String value;
    name.Reserve(64);
    value.Reserve(64);
    State state = State::BeforeName;
    bool escaped = false;
    for (const char* p = text;; ++p) {
        // CR and LF count for nothing, except right after a backslash inside quotes.
        if ((*p == '\r' || *p == '\n') && !escaped) {
            continue;
        }
        KL_Result result = Step(*p, state, escaped, name, value, parameters);
        if (result != KL_ERROR_LIST_OPERATION_CONTINUE) {
            return result;
        }
    }
}
