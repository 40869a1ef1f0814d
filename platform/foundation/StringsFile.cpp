#include "StringsFile.h"

#include "Text.h"

#include "Charset.h"

#include <cstdint>
#include <fstream>
#include <sstream>

namespace platform {

namespace {

void appendUTF8(std::string& out, std::uint32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

bool isBareWordCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || c == '.' || c == ':' || c == '/' || c == '-';
}

// A recursive-descent reader over the whole text.
class Parser {
public:
    explicit Parser(std::string_view text) : _text(text) {}

    std::optional<StringsFile::Table> run(std::string* errorMessage);

private:
    bool skipSpaceAndComments();
    std::optional<std::string> readToken();
    std::optional<std::string> readQuoted();
    bool readEscape(std::string& out);
    std::optional<std::uint32_t> readHex4();
    bool fail(std::string message) {
        if (_error.empty()) {
            _error = std::move(message) + " on line " + std::to_string(_line);
        }
        return false;
    }
    bool atEnd() const { return _position >= _text.size(); }
    char peek() const { return _text[_position]; }
    char next() {
        const char c = _text[_position++];
        if (c == '\n') {
            ++_line;
        }
        return c;
    }

    std::string_view _text;
    std::size_t _position = 0;
    int _line = 1;
    std::string _error;
};

std::optional<StringsFile::Table> Parser::run(std::string* errorMessage) {
    StringsFile::Table table;
    bool ok = true;
    while (ok && skipSpaceAndComments() && !atEnd()) {
        auto key = readToken();
        if (!key || !skipSpaceAndComments()) {
            ok = false;
            break;
        }
        std::optional<std::string> value = key;
        if (!atEnd() && peek() == '=') {
            next();
            value = skipSpaceAndComments() ? readToken() : std::nullopt;
            if (!value || !skipSpaceAndComments()) {
                ok = false;
                break;
            }
        }
        if (atEnd() || peek() != ';') {
            ok = fail("expected \";\"");
            break;
        }
        next();
        table[*key] = std::move(*value);
    }
    if (!ok || !_error.empty()) {
        if (errorMessage) {
            *errorMessage = _error;
        }
        return std::nullopt;
    }
    return table;
}

// Skips white space, "/* ... */" and "// ..." comments; false on an unterminated comment.
bool Parser::skipSpaceAndComments() {
    while (!atEnd()) {
        const char c = peek();
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
            next();
        } else if (c == '/' && _position + 1 < _text.size() && _text[_position + 1] == '*') {
            const std::size_t end = _text.find("*/", _position + 2);
            if (end == std::string_view::npos) {
                return fail("unterminated comment");
            }
            while (_position < end + 2) {
                next();
            }
        } else if (c == '/' && _position + 1 < _text.size() && _text[_position + 1] == '/') {
            while (!atEnd() && peek() != '\n') {
                next();
            }
        } else {
            break;
        }
    }
    return true;
}

std::optional<std::string> Parser::readToken() {
    if (atEnd()) {
        fail("unexpected end of text");
        return std::nullopt;
    }
    if (peek() == '"') {
        return readQuoted();
    }
    std::string word;
    while (!atEnd() && isBareWordCharacter(peek())) {
        word += next();
    }
    if (word.empty()) {
        fail(std::string("unexpected character \"") + peek() + "\"");
        return std::nullopt;
    }
    return word;
}

std::optional<std::string> Parser::readQuoted() {
    next(); // the opening quote
    std::string out;
    while (!atEnd()) {
        const char c = next();
        if (c == '"') {
            return out;
        }
        if (c != '\\') {
            out += c;
        } else if (!readEscape(out)) {
            return std::nullopt;
        }
    }
    fail("unterminated text");
    return std::nullopt;
}

std::optional<std::uint32_t> Parser::readHex4() {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = atEnd() ? -1 : hexDigitValue(peek());
        if (digit < 0) {
            fail("bad \\u escape");
            return std::nullopt;
        }
        next();
        value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    return value;
}

// Reads what follows a backslash and appends the character it stands for.
bool Parser::readEscape(std::string& out) {
    if (atEnd()) {
        return fail("unterminated text");
    }
    const char c = next();
    switch (c) {
    case 'n':
        out += '\n';
        return true;
    case 't':
        out += '\t';
        return true;
    case 'r':
        out += '\r';
        return true;
    case 'a':
        out += '\a';
        return true;
    case 'b':
        out += '\b';
        return true;
    case 'f':
        out += '\f';
        return true;
    case 'v':
        out += '\v';
        return true;
    case 'u':
    case 'U': {
        auto unit = readHex4();
        if (!unit) {
            return false;
        }
        std::uint32_t codePoint = *unit;
        if (codePoint >= 0xD800 && codePoint < 0xDC00 && _position + 1 < _text.size() && peek() == '\\' &&
            (_text[_position + 1] == 'u' || _text[_position + 1] == 'U')) {
            next();
            next();
            auto low = readHex4();
            if (!low || *low < 0xDC00 || *low >= 0xE000) {
                return fail("bad surrogate pair");
            }
            codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (*low - 0xDC00);
        }
        if (codePoint >= 0xD800 && codePoint < 0xE000) {
            return fail("lone surrogate");
        }
        appendUTF8(out, codePoint);
        return true;
    }
    default:
        break;
    }
    if (c >= '0' && c <= '7') {
        int value = c - '0';
        for (int i = 0; i < 2 && !atEnd() && peek() >= '0' && peek() <= '7'; ++i) {
            value = value * 8 + (next() - '0');
        }
        appendUTF8(out, static_cast<std::uint32_t>(value));
        return true;
    }
    out += c; // \" \\ \' and any other character stand for themselves
    return true;
}

// The text as UTF-8: a UTF-8 byte-order mark is dropped, UTF-16 with a byte-order mark converted.
std::optional<std::string> textOfFile(std::string_view bytes) {
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        return std::string(bytes.substr(3));
    }
    if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE") {
        return decodeToUTF8(bytes.substr(2), "UTF-16LE");
    }
    if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFE\xFF") {
        return decodeToUTF8(bytes.substr(2), "UTF-16BE");
    }
    return std::string(bytes);
}

} // namespace

std::optional<StringsFile::Table> StringsFile::parse(std::string_view text, std::string* errorMessage) {
    const auto utf8 = textOfFile(text);
    if (!utf8) {
        if (errorMessage) {
            *errorMessage = "not valid UTF-16 text";
        }
        return std::nullopt;
    }
    return Parser(*utf8).run(errorMessage);
}

std::optional<StringsFile::Table> StringsFile::read(const std::string& path, std::string* errorMessage) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream) {
        if (errorMessage) {
            *errorMessage = "cannot read " + path;
        }
        return std::nullopt;
    }
    std::ostringstream contents;
    contents << stream.rdbuf();
    if (stream.bad()) {
        if (errorMessage) {
            *errorMessage = "cannot read " + path;
        }
        return std::nullopt;
    }
    return parse(contents.str(), errorMessage);
}

} // namespace platform
