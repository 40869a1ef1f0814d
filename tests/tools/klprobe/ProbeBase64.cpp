// klprobe sub-commands for Base64 and hex: standard input to standard output, exactly the bytes.
#include "KL_Base64.h"
#include "KL_Utils.h"
#include "Probe.h"

#include <cstdio>
#include <string>

KLPROBE_COMMAND(b64enc, "b64enc [--url] [--line BLOCKS]") {
    bool url = false;
    uint32_t blocks = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--url") {
            url = true;
        } else if (args[i] == "--line" && i + 1 < args.size() &&
                   KL_SUCCEEDED(KL_ParseInteger32U(args[i + 1].c_str(), blocks, false))) {
            ++i;
        } else {
            return klprobe::Usage("b64enc [--url] [--line BLOCKS]");
        }
    }
    std::string input = klprobe::ReadStdin();
    if (input.size() > 0xFFFFFFFFu) {
        return klprobe::Fail(KL_ERROR_OUT_OF_RANGE);
    }
    KL_String text;
    KL_Result result = KL_Base64::Encode(reinterpret_cast<const KL_Byte*>(input.data()),
                                         KL_Size(input.size()), text, blocks, url);
    if (KL_FAILED(result)) {
        return klprobe::Fail(result);
    }
    klprobe::WriteStdout(std::string(text.GetChars(), text.GetLength()));
    return 0;
}

KLPROBE_COMMAND(b64dec, "b64dec [--url]") {
    bool url = args.size() == 1 && args[0] == "--url";
    if (args.size() != (url ? 1u : 0u)) {
        return klprobe::Usage("b64dec [--url]");
    }
    std::string input = klprobe::ReadStdin();
    if (input.size() > 0xFFFFFFFFu) {
        return klprobe::Fail(KL_ERROR_OUT_OF_RANGE);
    }
    KL_DataBuffer data;
    KL_Result result = KL_Base64::Decode(input.data(), KL_Size(input.size()), data, url);
    if (KL_FAILED(result)) {
        return klprobe::Fail(result);
    }
    klprobe::WriteStdout(std::string(reinterpret_cast<const char*>(data.GetData()), data.GetDataSize()));
    return 0;
}

KLPROBE_COMMAND(hex, "hex [--sep S] [--upper]") {
    std::string separator;
    bool upper = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--upper") {
            upper = true;
        } else if (args[i] == "--sep" && i + 1 < args.size()) {
            separator = args[++i];
        } else {
            return klprobe::Usage("hex [--sep S] [--upper]");
        }
    }
    std::string input = klprobe::ReadStdin();
    if (input.size() > 0x7FFFFFFFu) {
        return klprobe::Fail(KL_ERROR_OUT_OF_RANGE);
    }
    KL_String text = KL_HexString(reinterpret_cast<const unsigned char*>(input.data()), KL_Size(input.size()),
                                  separator.c_str(), upper);
    klprobe::WriteStdout(std::string(text.GetChars(), text.GetLength()));
    return 0;
}

KLPROBE_COMMAND(unhex, "unhex TEXT") {
    if (args.size() != 1) {
        return klprobe::Usage("unhex TEXT");
    }
    KL_DataBuffer bytes;
    KL_Result result = KL_HexToBytes(args[0].c_str(), bytes);
    if (KL_FAILED(result)) {
        return klprobe::Fail(result);
    }
    klprobe::WriteStdout(std::string(reinterpret_cast<const char*>(bytes.GetData()), bytes.GetDataSize()));
    return 0;
}
