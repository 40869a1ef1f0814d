#include "WebServerURLEncodedFormRequest.h"

#include "WebServerFunctions.h"

bool WebServerURLEncodedFormRequest::close(Error* error) {
    if (!WebServerDataRequest::close(error)) {
        return false;
    }
    const TextEncoding encoding =
        StringEncodingFromCharset(_type ? ExtractHeaderValueParameter(*_type, "charset") : std::nullopt);
    if (auto text = StringFromData(_data, encoding)) {
        _arguments = ParseURLEncodedForm(*text);
    }
    return true;
}

std::string WebServerURLEncodedFormRequest::description() const {
    std::string text = WebServerDataRequest::description();
    text += "\n";
    for (const auto& [name, value] : _arguments) {
        text += "\n" + name + " = " + value;
    }
    return text;
}
