// klprobe xml: parses standard input into an element tree and writes the tree to standard output.
//
//   klprobe xml [--indent N] [--keep-whitespace] [--decl] [--piece N]
//
// --piece N feeds the input in pieces of N bytes in incremental mode.
#include "KL_StringOutputStream.h"
#include "KL_XmlParser.h"
#include "KL_XmlWriter.h"
#include "Probe.h"

#include <memory>

namespace {

const char kXmlUsage[] = "xml [--indent N] [--keep-whitespace] [--decl] [--piece N]";

bool ParseCount(const std::string& text, uint32_t& out) {
    return klprobe::ParseNumber(text, 0xFFFF, out);
}

// Feeds the input piece by piece; the tree arrives with the piece that completes the root.
KL_Result ParseInPieces(KL_XmlParser& parser, const std::string& input, uint32_t piece, KL_XmlNode*& tree) {
    tree = nullptr;
    for (size_t offset = 0; offset < input.size(); offset += piece) {
        size_t size = std::min<size_t>(piece, input.size() - offset);
        KL_XmlNode* completed = nullptr;
        KL_Result result = parser.Parse(input.data() + offset, static_cast<KL_Size>(size), completed, true);
        if (completed != nullptr) {
            tree = completed;
        }
        if (KL_FAILED(result)) {
            delete tree;
            tree = nullptr;
            return result;
        }
    }
    return tree != nullptr ? KL_SUCCESS : KL_ERROR_XML_NO_ROOT_ELEMENT;
}

} // namespace

KLPROBE_COMMAND(xml, kXmlUsage) {
    uint32_t indent = 0;
    uint32_t piece = 0;
    bool keep_whitespace = false;
    bool decl = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--keep-whitespace") {
            keep_whitespace = true;
        } else if (args[i] == "--decl") {
            decl = true;
        } else if (args[i] == "--indent" && i + 1 < args.size() && ParseCount(args[i + 1], indent)) {
            ++i;
        } else if (args[i] == "--piece" && i + 1 < args.size() && ParseCount(args[i + 1], piece) &&
                   piece > 0) {
            ++i;
        } else {
            return klprobe::Usage(kXmlUsage);
        }
    }
    std::string input = klprobe::ReadStdin();
    KL_XmlParser parser(keep_whitespace);
    KL_XmlNode* tree = nullptr;
    KL_Result result = piece ? ParseInPieces(parser, input, piece, tree)
                             : parser.Parse(input.data(), static_cast<KL_Size>(input.size()), tree);
    if (KL_FAILED(result)) {
        return klprobe::Fail(result);
    }
    std::unique_ptr<KL_XmlNode> owned(tree);
    KL_StringOutputStream output(static_cast<KL_Size>(input.size() + 64));
    KL_XmlWriter writer(indent);
    result = writer.Serialize(*owned, output, decl);
    if (KL_FAILED(result)) {
        return klprobe::Fail(result);
    }
    const KL_String& text = output.GetString();
    klprobe::WriteStdout(std::string(text.GetChars(), text.GetLength()));
    return 0;
}
