// klprobe file and stream commands: copy, lines, ls, stat, mkdir, rm.
#include "KL_BufferedInputStream.h"
#include "KL_File.h"
#include "KL_StreamToStreamCopy.h"
#include "Probe.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool ParseUnsigned(const std::string& text, uint64_t& value) {
    if (text.empty() || text[0] < '0' || text[0] > '9') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    value = std::strtoull(text.c_str(), &end, 10);
    return errno == 0 && end != nullptr && *end == '\0';
}

// Opens path with mode and hands out the stream asked for.
KL_Result OpenInput(KL_File& file, KL_InputStreamReference& input) {
    KL_Result result = file.Open(KL_FILE_OPEN_MODE_READ);
    return KL_FAILED(result) ? result : file.GetInputStream(input);
}

} // namespace

KLPROBE_COMMAND(copy, "copy SRC DST [OFFSET SIZE]") {
    uint64_t offset = 0;
    uint64_t size = 0;
    if ((args.size() != 2 && args.size() != 4) ||
        (args.size() == 4 && (!ParseUnsigned(args[2], offset) || !ParseUnsigned(args[3], size)))) {
        return klprobe::Usage("copy SRC DST [OFFSET SIZE]");
    }
    KL_File source(args[0].c_str());
    KL_InputStreamReference input;
    KL_Result result = OpenInput(source, input);
    if (KL_FAILED(result)) {
        return klprobe::Fail(result);
    }
    KL_File target(args[1].c_str());
    result = target.Open(KL_FILE_OPEN_MODE_WRITE | KL_FILE_OPEN_MODE_CREATE | KL_FILE_OPEN_MODE_TRUNCATE);
    KL_OutputStreamReference output;
    if (KL_SUCCEEDED(result)) {
        result = target.GetOutputStream(output);
    }
    if (KL_FAILED(result)) {
        return klprobe::Fail(result);
    }
    KL_LargeSize written = 0;
    result = KL_StreamToStreamCopy(*input, *output, offset, size, &written);
    KL_Result flushed = output->Flush();
    output.Release();
    KL_Result closed = target.Close();
    for (KL_Result outcome : {result, flushed, closed}) {
        if (KL_FAILED(outcome)) {
            std::fprintf(stderr, "copied %" PRIu64 " bytes\n", static_cast<uint64_t>(written));
            return klprobe::Fail(outcome);
        }
    }
    std::printf("%" PRIu64 "\n", static_cast<uint64_t>(written));
    return 0;
}

KLPROBE_COMMAND(lines, "lines [--cr] [--max N] FILE") {
    const char* usage = "lines [--cr] [--max N] FILE";
    bool break_on_cr = false;
    uint64_t max_chars = 4096;
    std::string path;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--cr") {
            break_on_cr = true;
        } else if (args[i] == "--max" && i + 1 < args.size()) {
            if (!ParseUnsigned(args[++i], max_chars) || max_chars == 0 || max_chars > 0x10000000) {
                return klprobe::Usage(usage);
            }
        } else if (path.empty()) {
            path = args[i];
        } else {
            return klprobe::Usage(usage);
        }
    }
    if (path.empty()) {
        return klprobe::Usage(usage);
    }
    KL_File file(path.c_str());
    KL_InputStreamReference input;
    KL_Result result = OpenInput(file, input);
    if (KL_FAILED(result)) {
        return klprobe::Fail(result);
    }
    KL_BufferedInputStream lines(input);
    KL_String line;
    for (;;) {
        result = lines.ReadLine(line, static_cast<KL_Size>(max_chars), break_on_cr);
        if (result == KL_ERROR_EOS) {
            return 0;
        }
        if (KL_FAILED(result)) {
            return klprobe::Fail(result);
        }
        klprobe::WriteStdout("[" + std::string(line.GetChars(), line.GetLength()) + "]\n");
    }
}

KLPROBE_COMMAND(ls, "ls DIR [START MAX]") {
    uint64_t start = 0;
    uint64_t max = 0;
    if ((args.size() != 1 && args.size() != 3) ||
        (args.size() == 3 && (!ParseUnsigned(args[1], start) || !ParseUnsigned(args[2], max) ||
                              start > UINT32_MAX || max > UINT32_MAX))) {
        return klprobe::Usage("ls DIR [START MAX]");
    }
    KL_List<KL_String> entries;
    KL_Result result = KL_File::ListDir(args[0].c_str(), entries, static_cast<KL_Cardinal>(start),
                                        static_cast<KL_Cardinal>(max));
    if (KL_FAILED(result)) {
        return klprobe::Fail(result);
    }
    for (const KL_String& entry : entries) {
        std::printf("%s\n", entry.GetChars());
    }
    return 0;
}

KLPROBE_COMMAND(stat, "stat PATH") {
    if (args.size() != 1) {
        return klprobe::Usage("stat PATH");
    }
    KL_FileInfo info;
    KL_Result result = KL_File::GetInfo(args[0].c_str(), &info);
    if (KL_FAILED(result)) {
        return klprobe::Fail(result);
    }
    std::printf("type=%u size=%" PRIu64 " modified=%" PRId64 "\n", static_cast<unsigned>(info.m_Type),
                static_cast<uint64_t>(info.m_Size),
                static_cast<int64_t>(info.m_ModificationTime.ToSeconds()));
    return 0;
}

KLPROBE_COMMAND(mkdir, "mkdir [-p] PATH") {
    bool intermediate = args.size() == 2 && args[0] == "-p";
    if (args.size() != (intermediate ? 2u : 1u)) {
        return klprobe::Usage("mkdir [-p] PATH");
    }
    KL_Result result = KL_File::CreateDir(args.back().c_str(), intermediate);
    return KL_FAILED(result) ? klprobe::Fail(result) : 0;
}

KLPROBE_COMMAND(rm, "rm [-r] PATH") {
    bool recurse = args.size() == 2 && args[0] == "-r";
    if (args.size() != (recurse ? 2u : 1u)) {
        return klprobe::Usage("rm [-r] PATH");
    }
    KL_Result result = KL_File::Remove(args.back().c_str(), recurse);
    return KL_FAILED(result) ? klprobe::Fail(result) : 0;
}
