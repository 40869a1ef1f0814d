#include "WebServerMultiPartFormRequest.h"

#include "WebServerFunctions.h"
#include "WebServerRequestErrors.h"

#include <algorithm>

WebServerMultiPartFormRequest::~WebServerMultiPartFormRequest() {
    _parser.reset(); // before the lists it writes to
}

bool WebServerMultiPartFormRequest::open(Error* error) {
    std::optional<std::string> boundary;
    if (_type) {
        boundary = ExtractHeaderValueParameter(*_type, "boundary");
    }
    // A boundary never holds a ";": "b;" is a boundary followed by another parameter.
    _parser = boundary ? WebServerMIMEStreamParser::create(TruncateHeaderValue(*boundary), std::nullopt,
                                                           _arguments, _files)
                       : nullptr;
    if (!_parser) {
        platform::setError(error, Error::make(kWebServerRequestErrorDomain, -1,
                                              "Failed starting to parse multipart form data"));
        return false;
    }
    _parser->setTemporaryFolder(_temporaryFolder, _stagingFolder);
    return true;
}

bool WebServerMultiPartFormRequest::writeData(const Data& data, Error* error) {
    if (!_parser) {
        platform::setError(error, Error::make(kWebServerRequestErrorDomain, -1,
                                              "Failed continuing to parse multipart form data"));
        return false;
    }
    if (!_parser->appendBytes(data.data(), data.size())) {
        platform::setError(
            error, _parser->hasExceededMemory() ? WebServerBodyTooLargeError("Form data")
                   : _parser->hasExceededFiles()
                       ? Error::make(kWebServerRequestErrorDomain, kWebServerBodyTooLargeCode,
                                     "Form data holds more than " +
                                         std::to_string(WebServerMIMEStreamParser::kMaximumFiles) + " files")
                   : _parser->hasFailedAllocating() ? WebServerAllocationError()
                   : _parser->storageError() != 0
                       ? Error::posix(_parser->storageError()) // a full disk, no descriptor left...
                       : Error::make(kWebServerRequestErrorDomain, -1,
                                     "Failed continuing to parse multipart form data"));
        return false;
    }
    return true;
}

bool WebServerMultiPartFormRequest::close(Error* error) {
    const bool atEnd = _parser && _parser->isAtEnd();
    _parser.reset();
    if (!atEnd) {
        platform::setError(error, Error::make(kWebServerRequestErrorDomain, -1,
                                              "Failed finishing to parse multipart form data"));
        return false;
    }
    return true;
}

std::shared_ptr<WebServerMultiPartArgument>
WebServerMultiPartFormRequest::firstArgumentForControlName(const std::string& name) const {
    auto it = std::find_if(_arguments.begin(), _arguments.end(),
                           [&](const auto& argument) { return argument->controlName() == name; });
    return it == _arguments.end() ? nullptr : *it;
}

std::shared_ptr<WebServerMultiPartFile>
WebServerMultiPartFormRequest::firstFileForControlName(const std::string& name) const {
    auto it = std::find_if(_files.begin(), _files.end(),
                           [&](const auto& file) { return file->controlName() == name; });
    return it == _files.end() ? nullptr : *it;
}

std::string WebServerMultiPartFormRequest::description() const {
    std::string text = WebServerRequest::description();
    if (!_arguments.empty()) {
        text += "\n";
        for (const auto& argument : _arguments) {
            text += "\n" + argument->controlName() + " (" + argument->contentType() + ")\n" +
                    DescribeBodyData(argument->data(), argument->contentType());
        }
    }
    if (!_files.empty()) {
        text += "\n";
        for (const auto& file : _files) {
            text += "\n" + file->controlName() + " (" + file->contentType() + "): " + file->fileName() +
                    "\n{" + file->temporaryPath() + "}";
        }
    }
    return text;
}
