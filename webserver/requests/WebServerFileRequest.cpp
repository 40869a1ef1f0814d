#include "WebServerFileRequest.h"

#include "foundation/TemporaryFile.h"
#include "foundation/Uuid.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

WebServerFileRequest::WebServerFileRequest(const std::string& method, const Url& url,
                                           const HeaderDictionary& headers, const std::string& path,
                                           const QueryDictionary& query)
    : WebServerRequest(method, url, headers, path, query), _temporaryPath(platform::makeTemporaryPath()) {}

WebServerFileRequest::~WebServerFileRequest() {
    if (_file != -1) {
        ::close(_file);
    }
    // The handler may have moved the file away: a missing file is fine.
    if (_folder != -1) {
        ::unlinkat(_folder, _name.c_str(), 0);
        ::close(_folder);
    } else {
        ::unlink(_temporaryPath.c_str());
    }
}

void WebServerFileRequest::setTemporaryFolder(int folderDescriptor, const std::string& folderPath) {
    const int folder = ::fcntl(folderDescriptor, F_DUPFD_CLOEXEC, 0);
    if (folder == -1 || _file != -1) {
        if (folder != -1) {
            ::close(folder);
        }
        return; // the system's temporary folder stays
    }
    if (_folder != -1) {
        ::close(_folder);
    }
    _folder = folder;
    _name = ".lanyard-staging-" + platform::makeUuidString();
    _temporaryPath = folderPath + (!folderPath.empty() && folderPath.back() == '/' ? "" : "/") + _name;
}

bool WebServerFileRequest::open(Error* error) {
    if (_file != -1) {
        platform::setError(error, Error::posix(EBUSY));
        return false;
    }
    // The name is fresh, so the file must not exist yet: never follow a link planted there. Appended
    // to, so that a file cut meanwhile ends short of what was written, and readable by its owner
    // only until it is put in place (WebServerStoredFile).
    do {
        _file = _folder != -1
                    ? ::openat(_folder, _name.c_str(),
                               O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600)
                    : ::open(_temporaryPath.c_str(),
                             O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    } while (_file == -1 && errno == EINTR);
    if (_file == -1) {
        platform::setError(error, Error::posix(errno));
        return false;
    }
    _created = true;
    return true;
}

bool WebServerFileRequest::writeData(const Data& data, Error* error) {
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t result = ::write(_file, data.data() + written, data.size() - written);
        if (result < 0) {
            if (errno == EINTR) {
                continue;
            }
            platform::setError(error, Error::posix(errno));
            return false;
        }
        if (result == 0) {
            platform::setError(error, Error::posix(ENOSPC));
            return false;
        }
        written += static_cast<std::size_t>(result);
    }
    _written += written;
    return true;
}

bool WebServerFileRequest::close(Error* error) {
    const int file = _file;
    _file = -1;
    _stored = WebServerStoredFile::of(file, _written);
    if (::close(file) != 0) {
        platform::setError(error, Error::posix(errno));
        return false;
    }
    return true;
}

std::string WebServerFileRequest::description() const {
    return WebServerRequest::description() + "\n\n{" + _temporaryPath + "}";
}
