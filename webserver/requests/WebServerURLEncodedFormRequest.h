#pragma once

#include "WebServerDataRequest.h"

#include <string>

// A request whose "application/x-www-form-urlencoded" body is parsed into arguments at close.
class WebServerURLEncodedFormRequest : public WebServerDataRequest {
public:
    static std::string mimeType() { return "application/x-www-form-urlencoded"; }

    using WebServerDataRequest::WebServerDataRequest;

    // Decodes the body with the charset of the content type (UTF-8 by default) and parses it; a
    // body that does not decode gives no arguments, and the request still succeeds.
    bool close(Error* error) override;

    // The form fields (a later duplicate name replaces an earlier one).
    const QueryDictionary& arguments() const { return _arguments; }

    std::string description() const override;

protected:
    QueryDictionary _arguments;
};
