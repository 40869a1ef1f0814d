#include "UploaderTestSupport.h"

#include "dispatch/MainQueue.h"
#include "foundation/FileSystem.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <sstream>

namespace uploadertest {

namespace {

std::string lowercase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

Reply parse(const std::string& raw) {
    Reply reply;
    const std::size_t end = raw.find("\r\n\r\n");
    if (end == std::string::npos || raw.compare(0, 9, "HTTP/1.1 ") != 0) {
        return reply;
    }
    reply.status = std::atoi(raw.c_str() + 9);
    std::istringstream head(raw.substr(0, end));
    std::string line;
    std::getline(head, line);
    while (std::getline(head, line)) {
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos) {
            std::string value = line.substr(colon + 1);
            value.erase(0, value.find_first_not_of(' '));
            if (!value.empty() && value.back() == '\r') {
                value.pop_back();
            }
            reply.headers[lowercase(line.substr(0, colon))] = value;
        }
    }
    reply.body = raw.substr(end + 4);
    return reply;
}

} // namespace

std::string Reply::header(const std::string& lowerCaseName) const {
    const auto found = headers.find(lowerCaseName);
    return found == headers.end() ? std::string() : found->second;
}

std::string Reply::errorMessage() const {
    const std::size_t start = body.find("<h1>");
    const std::size_t end = body.find("</h1>");
    if (start == std::string::npos || end == std::string::npos) {
        return {};
    }
    std::string message = body.substr(start + 4, end - start - 4);
    const std::size_t colon = message.find(": ");
    if (message.compare(0, 11, "HTTP Error ") == 0 && colon != std::string::npos) {
        message.erase(0, colon + 2);
    }
    replaceAll(message, "&quot;", "\"");
    replaceAll(message, "&lt;", "<");
    replaceAll(message, "&gt;", ">");
    replaceAll(message, "&amp;", "&");
    return message;
}

Reply exchange(std::uint16_t port, const std::string& request) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        ADD_FAILURE() << "socket";
        return {};
    }
    timeval timeout{kTimeoutSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string raw;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        std::size_t sent = 0;
        while (sent < request.size()) {
            const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) {
                break;
            }
            sent += static_cast<std::size_t>(n);
        }
        char buffer[16384];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
            raw.append(buffer, static_cast<std::size_t>(n));
        }
    } else {
        ADD_FAILURE() << "cannot connect to port " << port;
    }
    ::close(fd);
    return parse(raw);
}

std::string multipartBody(const std::string& boundary, const std::vector<Part>& parts) {
    std::string body;
    for (const Part& part : parts) {
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + part.name + "\"";
        if (part.fileName) {
            body += "; filename=\"" + *part.fileName + "\"\r\nContent-Type: application/octet-stream";
        }
        body += "\r\n\r\n" + part.value + "\r\n";
    }
    return body + "--" + boundary + "--\r\n";
}

std::string escape(const std::string& text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~' || c == '/') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// ---- Files ----

ScratchFolder::ScratchFolder() {
    std::string pattern = "/tmp/lanyard-uploader-XXXXXX";
    if (::mkdtemp(pattern.data())) {
        _path = pattern;
    }
}

ScratchFolder::~ScratchFolder() {
    if (!_path.empty()) {
        platform::FileSystem::removeItem(_path);
    }
}

bool writeFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary);
    out << contents;
    return static_cast<bool>(out);
}

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

bool exists(const std::string& path) {
    return platform::FileSystem::itemExists(path);
}

bool isDirectory(const std::string& path) {
    const auto status = platform::FileSystem::statusOfItem(path);
    return status && status->isDirectory();
}

bool makeDirectory(const std::string& path) {
    return ::mkdir(path.c_str(), 0755) == 0;
}

void drainMainQueue() {
    auto loop = platform::dispatch::RunLoop::shared();
    while (loop->runOnce(0)) {
    }
}

// ---- Delegate and subclass ----

void RecordingDelegate::webUploaderDidDownloadFileAtPath(WebUploader&, const std::string& path) {
    events.push_back("download " + path);
}

void RecordingDelegate::webUploaderDidUploadFileAtPath(WebUploader&, const std::string& path) {
    events.push_back("upload " + path);
}

void RecordingDelegate::webUploaderDidMoveItemFromPath(WebUploader&, const std::string& fromPath,
                                                       const std::string& toPath) {
    events.push_back("move " + fromPath + " -> " + toPath);
}

void RecordingDelegate::webUploaderDidDeleteItemAtPath(WebUploader&, const std::string& path) {
    events.push_back("delete " + path);
}

void RecordingDelegate::webUploaderDidCreateDirectoryAtPath(WebUploader&, const std::string& path) {
    events.push_back("create " + path);
}

std::optional<bool>
RecordingDelegate::webUploaderCanListFileOrDirectory(WebUploader&, const std::string& name, bool isFile) {
    if (!filters) {
        return std::nullopt;
    }
    listAsked.emplace_back(name, isFile);
    return std::find(hiddenFromListing.begin(), hiddenFromListing.end(), name) == hiddenFromListing.end();
}

std::shared_ptr<RefusingUploader> RefusingUploader::create(const std::string& folder) {
    auto server = std::make_shared<RefusingUploader>(folder);
    return server->addHandlers("index") ? server : nullptr;
}

// ---- Fixture ----

void UploaderTest::SetUp() {
    ASSERT_FALSE(scratch.path().empty());
    ASSERT_TRUE(makeDirectory(scratch / "Share"));
    ASSERT_TRUE(makeDirectory(scratch / "Share2"));
    ASSERT_TRUE(writeFile(scratch / "Share2/outside.txt", "outside"));
    startServer(WebUploader::create(share()));
}

void UploaderTest::startServer(std::shared_ptr<WebUploader> made) {
    if (server) {
        server->stop();
        server->setDelegate(nullptr);
    }
    server = std::move(made);
    ASSERT_TRUE(server) << "the WebUploader bundle must lie beside the test program";
    server->setDelegate(&delegate);
    Error error;
    ASSERT_TRUE(server->startWithOptions(
        {{WebServerOption_Port, 0LL}, {WebServerOption_BindToLocalhost, true}}, &error))
        << error.description;
}

void UploaderTest::TearDown() {
    if (server) {
        server->stop();
        server->setDelegate(nullptr);
    }
    drainMainQueue();
}

std::string UploaderTest::share(const std::string& relative) const {
    return relative.empty() ? scratch / "Share" : scratch / ("Share/" + relative);
}

Reply UploaderTest::get(const std::string& pathAndQuery, const std::string& extraHeaders) {
    return exchange(static_cast<std::uint16_t>(server->port()),
                    "GET " + pathAndQuery + " HTTP/1.1\r\nHost: localhost\r\n" + extraHeaders + "\r\n");
}

Reply UploaderTest::postForm(const std::string& path,
                             const std::vector<std::pair<std::string, std::string>>& fields) {
    std::string body;
    for (const auto& [name, value] : fields) {
        body += (body.empty() ? "" : "&") + escape(name) + "=" + escape(value);
    }
    return exchange(static_cast<std::uint16_t>(server->port()),
                    "POST " + path +
                        " HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                        "Content-Length: " +
                        std::to_string(body.size()) + "\r\n\r\n" + body);
}

Reply UploaderTest::upload(const std::vector<Part>& parts, bool acceptJSON) {
    const std::string body = multipartBody("LanyardBoundary42", parts);
    return exchange(static_cast<std::uint16_t>(server->port()),
                    "POST /upload HTTP/1.1\r\nHost: localhost\r\n" +
                        std::string(acceptJSON ? "Accept: text/html, Application/JSON; q=0.9\r\n" : "") +
                        "Content-Type: multipart/form-data; boundary=LanyardBoundary42\r\nContent-Length: " +
                        std::to_string(body.size()) + "\r\n\r\n" + body);
}

Reply UploaderTest::uploadFile(const std::string& folder, const std::string& fileName,
                               const std::string& contents) {
    return upload({{"path", folder, std::nullopt}, {"files[]", contents, fileName}});
}

} // namespace uploadertest
