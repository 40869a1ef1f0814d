#pragma once

#include "WebServerResponse.h"

#include "foundation/SharedFolder.h"

#include <memory>
#include <string>

// A response that serves a regular file, or one byte range of it (206 with "Content-Range"),
// optionally as an attachment ("Content-Disposition"). The content type follows the file's
// extension; "Last-Modified" and "ETag" follow the modification time and inode of the file opened
// (the bytes sent are that file's). A connection sends the body straight from the descriptor
// (fileBody); otherwise it is read in pieces of at most 256 KiB through one buffer kept for the
// response.
class WebServerFileResponse : public WebServerResponse {
public:
    ~WebServerFileResponse() override;

    // None when the path is not a regular file (a symbolic link is refused too), or when a range
    // is asked for and none of its bytes lie in the file.
    static std::shared_ptr<WebServerFileResponse> responseWithFile(const std::string& path);
    static std::shared_ptr<WebServerFileResponse> responseWithFile(const std::string& path,
                                                                   bool isAttachment);
    static std::shared_ptr<WebServerFileResponse> responseWithFile(const std::string& path,
                                                                   WebServerRange byteRange);
    static std::shared_ptr<WebServerFileResponse>
    responseWithFile(const std::string& path, WebServerRange byteRange, bool isAttachment);

    // The same for a file opened already (the response owns the descriptor from now on); `path`
    // gives the name for the content type and the attachment header.
    static std::shared_ptr<WebServerFileResponse> responseWithFileDescriptor(platform::FileDescriptor file,
                                                                             const std::string& path,
                                                                             WebServerRange byteRange,
                                                                             bool isAttachment);

    const std::string& path() const { return _path; }

    // The ETag a response sends for a file of this status (inode and modification time).
    static std::string eTagForStatus(const platform::FileStatus& status);

    bool open(Error* error) override;
    std::optional<Data> readData(Error* error) override;
    void close() override;
    std::string description() const override;

protected:
    WebServerFileResponse() = default;
    // Sets the response up; false when it cannot be made (see responseWithFile).
    bool initWithFile(const std::string& path, WebServerRange byteRange, bool isAttachment);
    bool initWithDescriptor(int file, const std::string& path, WebServerRange byteRange, bool isAttachment);

    std::optional<FileBody> fileBody() const override;

    std::string _path;
    std::uint64_t _offset = 0;
    std::uint64_t _size = 0;
    int _file = -1;

private:
    Data _buffer; // the read buffer, made at the first read and reused
    void setAttachmentHeader();
};
