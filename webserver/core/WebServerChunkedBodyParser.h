#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Decodes a body sent with "Transfer-Encoding: chunked" as its bytes arrive, handing each piece of
// chunk data on at once (a chunk is never buffered whole). Size lines and trailers are bounded;
// chunk sizes are checked for overflow. Chunk extensions and trailer fields are ignored.
class WebServerChunkedBodyParser {
public:
    enum class Status { NeedMore, Done, Failed };
    // Receives chunk data; false stops the parse with failure.
    using DataSink = std::function<bool(const std::uint8_t* bytes, std::size_t length)>;

    static constexpr std::size_t kMaximumSizeLine = 4096;
    static constexpr std::size_t kMaximumTrailer = 64 * 1024;

    // Consumes the bytes (bytes after the end of the body are ignored).
    Status feed(const std::uint8_t* bytes, std::size_t length, const DataSink& sink);
    Status status() const { return _status; }

    // Parses a size line (extensions already cut off): optional white space and sign, hex digits,
    // nothing after them; an empty line is 0. -1 when invalid, negative or above 2^63 - 1.
    static long long parseChunkSize(const std::string& line);

private:
    enum class State { SizeLine, ChunkData, ChunkDataEnd, Trailer };
    Status fail() { return _status = Status::Failed; }
    // Consumes bytes of a size line from `pos`; false when the line is malformed or too long.
    bool readSizeLine(const std::uint8_t* bytes, std::size_t length, std::size_t& pos);

    State _state = State::SizeLine;
    Status _status = Status::NeedMore;
    std::string _line;
    std::uint64_t _remaining = 0;
    std::string _trailer;
};
