#pragma once

#include "WebServerResponse.h"

#include "foundation/Json.h"

#include <map>
#include <memory>
#include <string>

// A response whose body is held in memory: bytes, text, HTML (also from a template file) or JSON.
class WebServerDataResponse : public WebServerResponse {
public:
    WebServerDataResponse(Data data, std::string contentType);

    static std::shared_ptr<WebServerDataResponse> responseWithData(Data data, std::string contentType);
    // "text/plain; charset=utf-8"; none when the text is not valid UTF-8.
    static std::shared_ptr<WebServerDataResponse> responseWithText(const std::string& text);
    // "text/html; charset=utf-8".
    static std::shared_ptr<WebServerDataResponse> responseWithHTML(const std::string& html);
    // The template file's text with every "%KEY%" replaced by the value of the variable KEY, as
    // HTML; none when the file cannot be read or is not UTF-8 text. Values are inserted as they
    // are: callers escape what must not be read as markup.
    static std::shared_ptr<WebServerDataResponse>
    responseWithHTMLTemplate(const std::string& path, const std::map<std::string, std::string>& variables);
    // Compact JSON; none when a text of the object is not valid UTF-8.
    static std::shared_ptr<WebServerDataResponse>
    responseWithJSONObject(const platform::Json& object, std::string contentType = "application/json");

    const Data& data() const { return _data; }

    // The whole body the first time, then the end of the body.
    std::optional<Data> readData(Error* error) override;
    std::string description() const override;

protected:
    Data _data;
    bool _done = false;
};
