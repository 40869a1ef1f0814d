#include "WebServerMultiPart.h"

#include "WebServerFunctions.h"

#include <unistd.h>

WebServerMultiPart::WebServerMultiPart(const std::string& controlName, const std::string& contentType)
    : _controlName(controlName), _contentType(contentType), _mimeType(TruncateHeaderValue(contentType)) {}

WebServerMultiPartArgument::WebServerMultiPartArgument(const std::string& controlName,
                                                       const std::string& contentType, Data data)
    : WebServerMultiPart(controlName, contentType), _data(std::move(data)) {
    if (_contentType.rfind("text/", 0) == 0) {
        _string = StringFromData(
            _data, StringEncodingFromCharset(ExtractHeaderValueParameter(_contentType, "charset")));
    }
}

std::string WebServerMultiPartArgument::description() const {
    return "<WebServerMultiPartArgument | '" + _mimeType + "' | " + std::to_string(_data.size()) + " bytes>";
}

WebServerMultiPartFile::WebServerMultiPartFile(const std::string& controlName, const std::string& contentType,
                                               const std::string& fileName, const std::string& temporaryPath,
                                               WebServerStagingFolder folder, std::string temporaryName,
                                               WebServerStoredFile stored)
    : WebServerMultiPart(controlName, contentType), _fileName(fileName), _temporaryPath(temporaryPath),
      _folder(std::move(folder)), _temporaryName(std::move(temporaryName)), _stored(stored) {}

WebServerMultiPartFile::~WebServerMultiPartFile() {
    // The handler may have moved the file away: a missing file is fine.
    if (_folder) {
        ::unlinkat(_folder->get(), _temporaryName.c_str(), 0);
    } else {
        ::unlink(_temporaryPath.c_str());
    }
}

std::string WebServerMultiPartFile::description() const {
    return "<WebServerMultiPartFile | '" + _mimeType + "' | '" + _fileName + ">'";
}
