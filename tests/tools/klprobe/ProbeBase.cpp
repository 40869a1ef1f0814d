// klprobe sub-commands of the runtime's base: result names, number parsing, parameter lists and
// splitting.
#include "KL_String.h"
#include "KL_Utils.h"
#include "Probe.h"

#include <cinttypes>
#include <cstdio>

namespace {
// Splits [--relaxed] TEXT; false on a usage error.
bool RelaxedAndText(const klprobe::Args& args, bool& relaxed, const char*& text) {
    relaxed = args.size() == 2 && args[0] == "--relaxed";
    if (args.size() != (relaxed ? 2u : 1u)) {
        return false;
    }
    text = args.back().c_str();
    return true;
}
} // namespace

KLPROBE_COMMAND(result, "result CODE") {
    int32_t code = 0;
    if (args.size() != 1 || KL_FAILED(KL_ParseInteger32(args[0].c_str(), code, false))) {
        return klprobe::Usage("result CODE");
    }
    std::printf("%s\n", KL_GetResultText(code));
    return 0;
}

KLPROBE_COMMAND(int32, "int32 [--relaxed] TEXT") {
    bool relaxed = false;
    const char* text = nullptr;
    if (!RelaxedAndText(args, relaxed, text)) {
        return klprobe::Usage("int32 [--relaxed] TEXT");
    }
    int32_t value = 0;
    KL_Result result = KL_ParseInteger32(text, value, relaxed);
    if (KL_FAILED(result)) {
        return klprobe::Fail(result);
    }
    std::printf("%" PRId32 "\n", value);
    return 0;
}

KLPROBE_COMMAND(uint32, "uint32 [--relaxed] TEXT") {
    bool relaxed = false;
    const char* text = nullptr;
    if (!RelaxedAndText(args, relaxed, text)) {
        return klprobe::Usage("uint32 [--relaxed] TEXT");
    }
    uint32_t value = 0;
    KL_Result result = KL_ParseInteger32U(text, value, relaxed);
    if (KL_FAILED(result)) {
        return klprobe::Fail(result);
    }
    std::printf("%" PRIu32 "\n", value);
    return 0;
}

KLPROBE_COMMAND(int64, "int64 [--relaxed] TEXT") {
    bool relaxed = false;
    const char* text = nullptr;
    if (!RelaxedAndText(args, relaxed, text)) {
        return klprobe::Usage("int64 [--relaxed] TEXT");
    }
    int64_t value = 0;
    KL_Result result = KL_ParseInteger64(text, value, relaxed);
    if (KL_FAILED(result)) {
        return klprobe::Fail(result);
    }
    std::printf("%" PRId64 "\n", value);
    return 0;
}

KLPROBE_COMMAND(uint64, "uint64 [--relaxed] TEXT") {
    bool relaxed = false;
    const char* text = nullptr;
    if (!RelaxedAndText(args, relaxed, text)) {
        return klprobe::Usage("uint64 [--relaxed] TEXT");
    }
    uint64_t value = 0;
    KL_Result result = KL_ParseInteger64U(text, value, relaxed);
    if (KL_FAILED(result)) {
        return klprobe::Fail(result);
    }
    std::printf("%" PRIu64 "\n", value);
    return 0;
}

KLPROBE_COMMAND(float, "float [--relaxed] TEXT") {
    bool relaxed = false;
    const char* text = nullptr;
    if (!RelaxedAndText(args, relaxed, text)) {
        return klprobe::Usage("float [--relaxed] TEXT");
    }
    float value = 0;
    KL_Result result = KL_ParseFloat(text, value, relaxed);
    if (KL_FAILED(result)) {
        return klprobe::Fail(result);
    }
    std::printf("%.9g\n", double(value));
    return 0;
}

KLPROBE_COMMAND(params, "params TEXT") {
    if (args.size() != 1) {
        return klprobe::Usage("params TEXT");
    }
    KL_Map<KL_String, KL_String> parameters;
    KL_Result result = KL_ParseParameterList(args[0].c_str(), parameters);
    if (KL_FAILED(result)) {
        return klprobe::Fail(result);
    }
    for (auto* entry : parameters.GetEntries()) {
        std::printf("%s=%s\n", entry->GetKey().GetChars(), entry->GetValue().GetChars());
    }
    return 0;
}

KLPROBE_COMMAND(split, "split SEP TEXT") {
    if (args.size() != 2) {
        return klprobe::Usage("split SEP TEXT");
    }
    for (const KL_String& item : KL_String(args[1].c_str()).Split(args[0].c_str())) {
        std::printf("[%s]\n", item.GetChars());
    }
    return 0;
}

KLPROBE_COMMAND(splitany, "splitany SET TEXT") {
    if (args.size() != 2) {
        return klprobe::Usage("splitany SET TEXT");
    }
    for (const KL_String& item : KL_String(args[1].c_str()).SplitAny(args[0].c_str())) {
        std::printf("[%s]\n", item.GetChars());
    }
    return 0;
}
