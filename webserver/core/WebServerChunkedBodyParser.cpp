#include "WebServerChunkedBodyParser.h"

#include <cctype>
#include <cstring>
#include <limits>

long long WebServerChunkedBodyParser::parseChunkSize(const std::string& line) {
    std::size_t i = 0;
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) {
        ++i;
    }
    if (i == line.size()) {
        return 0;
    }
    bool negative = false;
    if (line[i] == '+' || line[i] == '-') {
        negative = line[i] == '-';
        ++i;
    }
    if (i + 1 < line.size() && line[i] == '0' && (line[i + 1] == 'x' || line[i + 1] == 'X')) {
        i += 2; // strtol accepts a 0x prefix in base 16
    }
    const std::size_t digitsStart = i;
    std::uint64_t value = 0;
    constexpr auto kMaximum = static_cast<std::uint64_t>(std::numeric_limits<long long>::max());
    for (; i < line.size() && std::isxdigit(static_cast<unsigned char>(line[i])); ++i) {
        const char c = line[i];
        const unsigned digit =
            std::isdigit(static_cast<unsigned char>(c))
                ? static_cast<unsigned>(c - '0')
                : static_cast<unsigned>(std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
        if (value > (kMaximum - digit) / 16) {
            return -1; // does not fit in a signed 64-bit size
        }
        value = value * 16 + digit;
    }
    if (i == digitsStart || i != line.size() || (negative && value != 0)) {
        return -1;
    }
    return static_cast<long long>(value);
}

bool WebServerChunkedBodyParser::readSizeLine(const std::uint8_t* bytes, std::size_t length,
                                              std::size_t& pos) {
    const auto* start = bytes + pos;
    const auto* newline = static_cast<const std::uint8_t*>(std::memchr(start, '\n', length - pos));
    const std::size_t take = newline ? static_cast<std::size_t>(newline - start) + 1 : length - pos;
    _line.append(reinterpret_cast<const char*>(start), take);
    pos += take;
    if (_line.size() > kMaximumSizeLine) {
        return false;
    }
    if (!newline) {
        return true; // the rest of the line comes later
    }
    if (_line.size() < 2 || _line[_line.size() - 2] != '\r') {
        return false;
    }
    _line.resize(_line.size() - 2);
    const std::size_t semicolon = _line.find(';'); // chunk extensions are ignored
    const long long size =
        parseChunkSize(semicolon == std::string::npos ? _line : _line.substr(0, semicolon));
    _line.clear();
    if (size < 0) {
        return false;
    }
    if (size == 0) {
        _state = State::Trailer;
        _trailer = "\r\n"; // the size line's own line end starts the search for the blank line
    } else {
        _remaining = static_cast<std::uint64_t>(size);
        _state = State::ChunkData;
    }
    return true;
}

WebServerChunkedBodyParser::Status
WebServerChunkedBodyParser::feed(const std::uint8_t* bytes, std::size_t length, const DataSink& sink) {
    std::size_t pos = 0;
    while (_status == Status::NeedMore && pos < length) {
        switch (_state) {
        case State::SizeLine:
            if (!readSizeLine(bytes, length, pos)) {
                return fail();
            }
            break;
        case State::ChunkData: {
            const std::size_t take =
                static_cast<std::size_t>(std::min<std::uint64_t>(_remaining, length - pos));
            if (!sink(bytes + pos, take)) {
                return fail();
            }
            pos += take;
            _remaining -= take;
            if (_remaining == 0) {
                _state = State::ChunkDataEnd;
            }
            break;
        }
        case State::ChunkDataEnd:
            _line.push_back(static_cast<char>(bytes[pos++]));
            if (_line.size() == 2) {
                if (_line != "\r\n") {
                    return fail();
                }
                _line.clear();
                _state = State::SizeLine;
            }
            break;
        case State::Trailer:
            _trailer.push_back(static_cast<char>(bytes[pos++]));
            if (_trailer.size() >= 4 && _trailer.compare(_trailer.size() - 4, 4, "\r\n\r\n") == 0) {
                _trailer.clear();
                return _status = Status::Done;
            }
            if (_trailer.size() > kMaximumTrailer) {
                return fail();
            }
            break;
        }
    }
    return _status;
}
