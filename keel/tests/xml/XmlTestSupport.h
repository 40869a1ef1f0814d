// Helpers shared by the XML tests: parse to an owned tree, write a tree to a string, read the
// golden documents, run xmllint, and streams that fail on a chosen call.
#pragma once

#include "KL_InputStream.h"
#include "KL_OutputStream.h"
#include "KL_StringOutputStream.h"
#include "KL_XmlParser.h"
#include "KL_XmlWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace xmltest {

using Tree = std::unique_ptr<KL_XmlNode>;

inline Tree Parse(const std::string& text, KL_Result& result, bool keep_whitespace = false) {
    KL_XmlParser parser(keep_whitespace);
    KL_XmlNode* tree = nullptr;
    result = parser.Parse(text.data(), static_cast<KL_Size>(text.size()), tree);
    return Tree(tree);
}

inline std::string Write(const KL_XmlNode& node, uint32_t indentation = 0, bool declaration = false) {
    KL_StringOutputStream output(256);
    KL_XmlWriter writer(indentation);
    if (KL_FAILED(writer.Serialize(node, output, declaration))) {
        return "<!-- write failed -->";
    }
    return std::string(output.GetString().GetChars(), output.GetString().GetLength());
}

// The compact text of the tree parsed from text, or the parse code in brackets.
inline std::string Roundtrip(const std::string& text, bool keep_whitespace = false) {
    KL_Result result = KL_SUCCESS;
    Tree tree = Parse(text, result, keep_whitespace);
    if (KL_FAILED(result) || !tree) {
        return "[" + std::to_string(result) + "]";
    }
    return Write(*tree);
}

// Feeds the pieces in incremental mode; the compact text of the tree or the code in brackets.
inline std::string ParsePieces(const std::vector<std::string>& pieces) {
    KL_XmlParser parser;
    Tree tree;
    for (const std::string& piece : pieces) {
        KL_XmlNode* completed = nullptr;
        KL_Result result = parser.Parse(piece.data(), static_cast<KL_Size>(piece.size()), completed, true);
        if (completed != nullptr) {
            tree.reset(completed);
        }
        if (KL_FAILED(result)) {
            return "[" + std::to_string(result) + "]";
        }
    }
    return tree ? Write(*tree) : "[" + std::to_string(KL_ERROR_XML_NO_ROOT_ELEMENT) + "]";
}

inline std::string ReadDataFile(const std::string& name) {
    std::ifstream file(std::string(KEEL_TEST_DATA_DIR) + "/" + name, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

inline const std::vector<std::string>& GoldenNames() {
    static const std::vector<std::string> names = {"xml-device-description.xml", "xml-scpd.xml",
                                                   "xml-soap-envelope.xml", "xml-gena-propertyset.xml",
                                                   "xml-didl-lite.xml"};
    return names;
}

// xmllint --noout on the text: its exit status, and its complaints in errors.
inline int Xmllint(const std::string& text, std::string& errors) {
    char path[] = "/tmp/keel-xml-lint-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) {
        return -1;
    }
    FILE* file = fdopen(fd, "wb");
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    std::string command = "xmllint --noout " + std::string(path) + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[512];
    errors.clear();
    while (pipe && std::fgets(buffer, sizeof buffer, pipe)) {
        errors += buffer;
    }
    int status = pipe ? pclose(pipe) : -1;
    std::remove(path);
    return status;
}

// An input stream over a text that hands out chunks of varying size and fails (with
// KL_ERROR_READ_FAILED) on call fail_at (0: never).
class ChunkedInputStream : public KL_InputStream {
public:
    ChunkedInputStream(std::string data, int fail_at) : m_Data(std::move(data)), m_FailAt(fail_at) {}
    KL_Result Read(void* buffer, KL_Size n, KL_Size* bytes_read) override {
        if (bytes_read) {
            *bytes_read = 0;
        }
        if (++m_Calls == m_FailAt) {
            return KL_ERROR_READ_FAILED;
        }
        if (m_Offset >= m_Data.size()) {
            return KL_ERROR_EOS;
        }
        size_t count = std::min<size_t>(
            {static_cast<size_t>(n), m_Data.size() - m_Offset, static_cast<size_t>(m_Calls * 37 % 900 + 1)});
        std::copy_n(m_Data.data() + m_Offset, count, static_cast<char*>(buffer));
        m_Offset += count;
        if (bytes_read) {
            *bytes_read = static_cast<KL_Size>(count);
        }
        return KL_SUCCESS;
    }
    KL_Result Seek(KL_Position) override { return KL_ERROR_NOT_SUPPORTED; }
    KL_Result Tell(KL_Position& offset) override {
        offset = m_Offset;
        return KL_SUCCESS;
    }
    KL_Result GetSize(KL_LargeSize& size) override {
        size = m_Data.size();
        return KL_SUCCESS;
    }
    KL_Result GetAvailable(KL_LargeSize& available) override {
        available = m_Data.size() - m_Offset;
        return KL_SUCCESS;
    }
    int GetCalls() const { return m_Calls; }

private:
    std::string m_Data;
    size_t m_Offset = 0;
    int m_FailAt;
    int m_Calls = 0;
};

// An output stream into a string that takes at most 7 bytes a call and fails (with
// KL_ERROR_WRITE_FAILED) on call fail_at (0: never).
class FailingOutputStream : public KL_OutputStream {
public:
    explicit FailingOutputStream(int fail_at) : m_FailAt(fail_at) {}
    KL_Result Write(const void* data, KL_Size n, KL_Size* bytes_written) override {
        if (bytes_written) {
            *bytes_written = 0;
        }
        if (++m_Calls == m_FailAt) {
            return KL_ERROR_WRITE_FAILED;
        }
        KL_Size count = std::min<KL_Size>(n, 7);
        m_Text.append(static_cast<const char*>(data), count);
        if (bytes_written) {
            *bytes_written = count;
        }
        return KL_SUCCESS;
    }
    KL_Result Seek(KL_Position) override { return KL_ERROR_NOT_SUPPORTED; }
    KL_Result Tell(KL_Position& offset) override {
        offset = m_Text.size();
        return KL_SUCCESS;
    }
    const std::string& GetText() const { return m_Text; }

private:
    std::string m_Text;
    int m_FailAt;
    int m_Calls = 0;
};

} // namespace xmltest
