#pragma once

#include "WebServerRequest.h"

#include "foundation/Json.h"

#include <cstddef>
#include <optional>
#include <string>

// A request whose body is kept in memory, offered as bytes, as text and as a JSON value.
class WebServerDataRequest : public WebServerRequest {
public:
    // The largest body kept in memory; a longer one fails the write (the connection answers 500).
    static constexpr std::size_t kMaximumBodySize = 16 * 1024 * 1024;
    // The most memory reserved at open for a declared Content-Length.
    static constexpr std::size_t kMaximumInitialCapacity = 1024 * 1024;

    using WebServerRequest::WebServerRequest;

    bool open(Error* error) override;
    bool writeData(const Data& data, Error* error) override;
    bool close(Error* error) override;

    // The body bytes.
    const Data& data() const { return _data; }
    // For a "text/..." content type, the body decoded with the charset of the content type (UTF-8
    // when absent or unknown); none when not textual or not decodable. Computed on first use.
    const std::optional<std::string>& text() const;
    // For "application/json", "text/json" and "text/javascript", the body parsed as JSON; none
    // otherwise or when it does not parse. Computed on first use.
    const std::optional<platform::Json>& jsonObject() const;

    std::string description() const override;

protected:
    Data _data;
    mutable std::optional<std::string> _text;
    mutable std::optional<platform::Json> _jsonObject;

private:
    mutable bool _textDone = false;
    mutable bool _jsonDone = false;
};
