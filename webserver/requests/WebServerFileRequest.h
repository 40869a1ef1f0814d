#pragma once

#include "WebServerRequest.h"

#include <string>

// A request whose body is written to a temporary file. The file is deleted when the request goes,
// unless a handler moved it away first.
class WebServerFileRequest : public WebServerRequest {
public:
    WebServerFileRequest(const std::string& method, const Url& url, const HeaderDictionary& headers,
                         const std::string& path, const QueryDictionary& query);
    ~WebServerFileRequest() override;
    WebServerFileRequest(const WebServerFileRequest&) = delete;
    WebServerFileRequest& operator=(const WebServerFileRequest&) = delete;

    // Creates the file (write only, 0644); a failure gives a POSIX error.
    bool open(Error* error) override;
    // Writes the whole piece; a failed write gives a POSIX error.
    bool writeData(const Data& data, Error* error) override;
    // Closes the file; a failure gives a POSIX error.
    bool close(Error* error) override;

    // Where the body is (chosen at construction, in the system's temporary folder).
    const std::string& temporaryPath() const { return _temporaryPath; }

    std::string description() const override;

protected:
    std::string _temporaryPath;
    int _file = -1;
};
