#pragma once

#include "WebServerRequest.h"
#include "WebServerStoredFile.h"

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

    // Creates the file (write only, 0600, never over an existing one); a failure gives a POSIX
    // error.
    bool open(Error* error) override;
    // Writes the whole piece; a failed write gives a POSIX error.
    bool writeData(const Data& data, Error* error) override;
    // Closes the file; a failure gives a POSIX error.
    bool close(Error* error) override;

    // Where the body is (chosen at construction, in the system's temporary folder, unless a
    // folder was given below).
    const std::string& temporaryPath() const { return _temporaryPath; }

    // Stages the body in an open folder (the descriptor is duplicated) under a fresh hidden name,
    // created and removed through that descriptor; `folderPath` names it for temporaryPath(). Call
    // before the body is read.
    void setTemporaryFolder(int folderDescriptor, const std::string& folderPath);
    // The staging folder's descriptor (-1 for the system's temporary folder) and the file's name
    // in it.
    int temporaryFolderDescriptor() const { return _folder; }
    const std::string& temporaryName() const { return _name; }
    // Whether the body's file was made (a request without a body never opens one).
    bool hasFile() const { return _created; }
    // The body's file as it was written, once it is closed.
    const WebServerStoredFile& storedFile() const { return _stored; }

    std::string description() const override;

protected:
    std::string _temporaryPath;
    int _file = -1;
    int _folder = -1;
    std::string _name;
    bool _created = false;
    std::uint64_t _written = 0;
    WebServerStoredFile _stored;
};
