#pragma once

#include "WebServerMIMEStreamParser.h"
#include "WebServerMultiPart.h"
#include "WebServerRequest.h"

#include <memory>
#include <string>

// A request whose "multipart/form-data" body (a browser upload) is split, while it streams in,
// into text parts kept in memory and file parts written to temporary files.
class WebServerMultiPartFormRequest : public WebServerRequest {
public:
    static std::string mimeType() { return "multipart/form-data"; }

    using WebServerRequest::WebServerRequest;
    ~WebServerMultiPartFormRequest() override;

    // Fails ("Failed starting to parse multipart form data") without a usable boundary parameter.
    bool open(Error* error) override;
    // Fails ("Failed continuing to parse multipart form data") on a malformed body or a part that
    // cannot be stored; with a body-too-large error (answered 413) for parts over the size kept in
    // memory or more file parts than a form may hold; "Failed allocating memory" when memory ran out.
    bool writeData(const Data& data, Error* error) override;
    // Fails ("Failed finishing to parse multipart form data") when the closing boundary is missing.
    bool close(Error* error) override;

    // The parts, each list in body order.
    const WebServerMultiPartArgumentList& arguments() const { return _arguments; }
    const WebServerMultiPartFileList& files() const { return _files; }
    // The first part whose control name is exactly `name`; none when there is none.
    std::shared_ptr<WebServerMultiPartArgument> firstArgumentForControlName(const std::string& name) const;
    std::shared_ptr<WebServerMultiPartFile> firstFileForControlName(const std::string& name) const;

    std::string description() const override;

    // Where file parts are staged (the system's temporary folder by default); set before the body
    // is read. With an open folder the parts are made and removed through its descriptor (`folder`
    // then names it for their paths), wherever its path leads meanwhile.
    void setTemporaryFolder(std::string folder, WebServerStagingFolder open = nullptr) {
        _temporaryFolder = std::move(folder);
        _stagingFolder = std::move(open);
    }

protected:
    std::unique_ptr<WebServerMIMEStreamParser> _parser;
    WebServerMultiPartArgumentList _arguments;
    WebServerMultiPartFileList _files;
    std::string _temporaryFolder;
    WebServerStagingFolder _stagingFolder;
};
