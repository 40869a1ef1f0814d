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

constexpr KL_Result kMore = KL_ERROR_LIST_OPERATION_CONTINUE;

struct Parser {
    State state = State::BeforeName;
    bool escaped = false;
    KL_String name;
    KL_String value;
    KL_Map<KL_String, KL_String>& parameters;

    // One character (NUL for the end of the text) in the current state, which it may change.
    // Answers kMore to read on, KL_SUCCESS at a successful end, or the failure.
    KL_Result Step(char c) {
        switch (state) {
        case State::BeforeName:
        case State::InName:
        case State::AfterName:
            return StepName(c);
        case State::BeforeValue:
        case State::Unquoted:
            return StepValue(c);
        case State::Quoted:
        case State::AfterQuoted:
            return StepQuoted(c);
        }
        return KL_ERROR_INTERNAL;
    }

    KL_Result StepName(char c) {
        if (state == State::BeforeName) {
            if (c == '\0') {
                return KL_SUCCESS;
            }
            if (c == ' ' || c == '\t') {
                return kMore;
            }
            if (IsControl(c)) {
                return KL_ERROR_INVALID_SYNTAX;
            }
            state = State::InName; // the character starts the name
        }
        if (state == State::InName) {
            if (IsControl(c)) {
                return KL_ERROR_INVALID_SYNTAX;
            }
            if (c == ' ' || c == '=') {
                state = c == ' ' ? State::AfterName : State::BeforeValue;
            } else {
                name += c;
            }
            return kMore;
        }
        if (c == ' ') {
            return kMore;
        }
        if (c != '=') {
            return KL_ERROR_INVALID_SYNTAX;
        }
        state = State::BeforeValue;
        return kMore;
    }

    KL_Result StepValue(char c) {
        if (state == State::BeforeValue) {
            if (c == ' ') {
                return kMore;
            }
            if (IsControl(c)) {
                return KL_ERROR_INVALID_SYNTAX;
            }
            if (c == '"') {
                state = State::Quoted;
                return kMore;
            }
            state = State::Unquoted; // the character starts the value
        }
        if (c == ';' || c == '\0') {
            StorePair(name, value, parameters);
            state = State::BeforeName;
            return c == '\0' ? KL_SUCCESS : kMore;
        }
        if (IsControl(c)) {
            return KL_ERROR_INVALID_SYNTAX;
        }
        value += c;
        return kMore;
    }

    KL_Result StepQuoted(char c) {
        if (state == State::AfterQuoted) {
            if (c == '\0') {
                return KL_SUCCESS;
            }
            if (c == ';') {
                state = State::BeforeName;
            }
            return (c == ' ' || c == ';') ? kMore : KL_ERROR_INVALID_SYNTAX;
        }
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
        return kMore;
    }
};
} // namespace

KL_Result KL_ParseParameterList(const char* text, KL_Map<KL_String, KL_String>& parameters) {
    if (text == nullptr) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    Parser parser{State::BeforeName, false, KL_String(), KL_String(), parameters};
    parser.name.Reserve(64);
    parser.value.Reserve(64);
    for (const char* p = text;; ++p) {
        // CR and LF count for nothing, except right after a backslash inside quotes.
        if ((*p == '\r' || *p == '\n') && !parser.escaped) {
            continue;
        }
        KL_Result result = parser.Step(*p);
        if (result != kMore) {
            return result;
        }
    }
}
