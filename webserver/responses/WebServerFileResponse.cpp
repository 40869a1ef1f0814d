#include "WebServerFileResponse.h"

#include "WebServerFunctions.h"

#include "foundation/FileSystem.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

using platform::FileSystem;

namespace {

constexpr std::uint64_t kReadPieceSize = 256 * 1024;

bool isControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

// The name without double quotes and without control characters: neither may reach a header.
std::string headerSafeName(std::string_view name) {
    std::string result;
    for (const char c : name) {
        if (c != '"' && !isControl(static_cast<unsigned char>(c))) {
            result.push_back(c);
        }
    }
    return result;
}

// UTF-8 text as ISO Latin-1 bytes: characters beyond Latin-1 (and bytes that are not UTF-8)
// become "?", the C1 control characters are dropped.
std::string lossyLatin1(std::string_view text) {
    std::string result;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            result.push_back(static_cast<char>(lead));
            ++i;
            continue;
        }
        const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 1;
        bool valid = length > 1 && lead < 0xF5 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        }
        if (!valid) {
            result.push_back('?');
            ++i;
            continue;
        }
        if (length == 2) {
            const unsigned cp = ((lead & 0x1Fu) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
            if (cp >= 0xA0) {
                result.push_back(static_cast<char>(cp));
            }
        } else {
            result.push_back('?');
        }
        i += length;
    }
    return result;
}

} // namespace

std::string WebServerFileResponse::eTagForStatus(const platform::FileStatus& status) {
    char text[96];
    std::snprintf(text, sizeof text, "%llu/%li/%li", static_cast<unsigned long long>(status.inode),
                  static_cast<long>(status.modificationTime.seconds),
                  static_cast<long>(status.modificationTime.nanoseconds));
    return text;
}

WebServerFileResponse::~WebServerFileResponse() {
    if (_file != -1) {
        ::close(_file);
    }
}

std::shared_ptr<WebServerFileResponse> WebServerFileResponse::responseWithFile(const std::string& path) {
    return responseWithFile(path, WebServerRange(), false);
}

std::shared_ptr<WebServerFileResponse> WebServerFileResponse::responseWithFile(const std::string& path,
                                                                               bool isAttachment) {
    return responseWithFile(path, WebServerRange(), isAttachment);
}

std::shared_ptr<WebServerFileResponse> WebServerFileResponse::responseWithFile(const std::string& path,
                                                                               WebServerRange byteRange) {
    return responseWithFile(path, byteRange, false);
}

std::shared_ptr<WebServerFileResponse> WebServerFileResponse::responseWithFile(const std::string& path,
                                                                               WebServerRange byteRange,
                                                                               bool isAttachment) {
    std::shared_ptr<WebServerFileResponse> response(new WebServerFileResponse());
    if (!response->initWithFile(path, byteRange, isAttachment)) {
        return nullptr;
    }
    return response;
}

std::shared_ptr<WebServerFileResponse>
WebServerFileResponse::responseWithFileDescriptor(platform::FileDescriptor file, const std::string& path,
                                                  WebServerRange byteRange, bool isAttachment) {
    std::shared_ptr<WebServerFileResponse> response(new WebServerFileResponse());
    if (!response->initWithDescriptor(file.release(), path, byteRange, isAttachment)) {
        return nullptr;
    }
    return response;
}

bool WebServerFileResponse::initWithFile(const std::string& path, WebServerRange byteRange,
                                         bool isAttachment) {
    // Non-blocking, so that a fifo put in the file's place cannot stall the open.
    const int file = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    return file != -1 && initWithDescriptor(file, path, byteRange, isAttachment);
}

// The file is open before anything is said about it: length, ETag and dates come from that
// descriptor, and its bytes are the ones sent, whatever takes the path meanwhile.
bool WebServerFileResponse::initWithDescriptor(int file, const std::string& path, WebServerRange byteRange,
                                               bool isAttachment) {
    _file = file;
    const auto status = file == -1 ? std::nullopt : FileSystem::statusOfDescriptor(file);
    if (!status || !status->isRegularFile()) {
        return false;
    }
    _path = path;
    const std::uint64_t fileSize = status->size;
    const bool hasRange = byteRange != WebServerRange();
    if (!hasRange) {
        _offset = 0;
        _size = fileSize;
    } else if (byteRange.location == kWebServerNotFound) {
        _size = std::min(byteRange.length, fileSize); // the last bytes of the file
        _offset = fileSize - _size;
    } else {
        _offset = std::min(byteRange.location, fileSize);
        _size = std::min(fileSize - _offset, byteRange.length);
    }
    if (hasRange) {
        if (_size == 0) {
            return false;
        }
        _status = 206;
        setValueForAdditionalHeader(
            StringWithFormat("bytes %@-%@/%@", {std::to_string(_offset), std::to_string(_offset + _size - 1),
                                                std::to_string(fileSize)}),
            "Content-Range");
    }
    if (isAttachment) {
        setAttachmentHeader();
    }
    _type = MimeTypeForExtension(FileSystem::pathExtension(path));
    _length = _size;
    _lastModified = status->modificationTime.date();
    _eTag = eTagForStatus(*status);
    return true;
}

void WebServerFileResponse::setAttachmentHeader() {
    // filename*= carries the whole name, escaped (quotes and control characters included: escaped
    // they are harmless); filename= the Latin-1 name without them.
    const std::string component = FileSystem::lastPathComponent(_path);
    setValueForAdditionalHeader(
        StringWithFormat("attachment; filename=\"%@\"; filename*=UTF-8''%@",
                         {lossyLatin1(headerSafeName(component)), EscapeURLString(component)}),
        "Content-Disposition");
}

bool WebServerFileResponse::open(Error* error) {
    if (_file == -1) {
        platform::setError(error, Error::posix(EBADF));
        return false;
    }
    if (::lseek(_file, static_cast<off_t>(_offset), SEEK_SET) == -1) {
        platform::setError(error, Error::posix(errno));
        return false;
    }
    return true;
}

std::optional<Data> WebServerFileResponse::readData(Error* error) {
    const auto wanted = static_cast<std::size_t>(std::min(_size, kReadPieceSize));
    if (_buffer.size() < wanted) {
        _buffer.resize(wanted);
    }
    ssize_t count = 0;
    while (wanted > 0 && (count = ::read(_file, _buffer.data(), wanted)) == -1 && errno == EINTR) {
    }
    if (count < 0) {
        platform::setError(error, Error::posix(errno));
        return std::nullopt;
    }
    if (count == 0 && wanted > 0) {
        // The file shrank under the response: fewer bytes than announced would be a torn body.
        platform::setError(error, Error::posix(EIO));
        return std::nullopt;
    }
    _size -= static_cast<std::uint64_t>(count);
    return Data(_buffer.begin(), _buffer.begin() + count);
}

std::optional<WebServerResponse::FileBody> WebServerFileResponse::fileBody() const {
    if (_file == -1) {
        return std::nullopt;
    }
    return FileBody{_file, _offset, _size};
}

void WebServerFileResponse::close() {
    _buffer = Data();
    if (_file != -1) {
        ::close(_file);
        _file = -1;
    }
}

std::string WebServerFileResponse::description() const {
    return WebServerResponse::description() + "\n\n{" + _path + "}";
}
