// The configurator page, asked over loopback with a raw HTTP client.
#include "KL_LogManager.h"
#include "KL_Logger.h"
#include "LogTestSupport.h"

#include <gtest/gtest.h>
#include <string>

namespace {

// Sends the request text to 127.0.0.1:port and returns everything that comes back.
std::string Ask(uint16_t port, const std::string& request) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        answer = logtest::ReadSome(fd, 1 << 20, 5000);
    }
    close(fd);
    return answer;
}

} // namespace

TEST(LogConfiguratorTest, PageAndRefusedMethods) {
    KL_LogManager manager("http:port=0|plist:a.b.level=WARNING");
    ASSERT_NE(manager.GetLogger("a.b.c"), nullptr);
    const uint16_t port = manager.GetConfiguratorPort();
    ASSERT_NE(port, 0);
    const std::string page = Ask(port, "GET /anything HTTP/1.0\r\n\r\n");
    EXPECT_EQ(page.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << page;
    EXPECT_NE(page.find("Content-Type: text/html\r\n"), std::string::npos) << page;
    EXPECT_NE(page.find("\r\n\r\n<ul><li>.handlers=ConsoleHandler</li><li>a.b.level=WARNING</li></ul>"
                        "<ul><li>a.b, level=500, handlers=</li><li>a.b.c, level=500, handlers=</li></ul>"),
              std::string::npos)
        << page;
    for (const char* method : {"POST", "HEAD", "get"}) {
        const std::string answer =
            Ask(port, std::string(method) + " / HTTP/1.0\r\nContent-Length: 0\r\n\r\n");
        EXPECT_EQ(answer.rfind("HTTP/1.0 500 ", 0), 0u) << method << ": " << answer;
    }
}

TEST(LogConfiguratorTest, StartStopChurn) {
    for (int i = 0; i < 20; ++i) {
        KL_LogManager manager("http:port=0");
        ASSERT_NE(manager.GetLogger("x"), nullptr);
        ASSERT_NE(manager.GetConfiguratorPort(), 0);
        if (i % 2 == 0) {
            const std::string answer = Ask(manager.GetConfiguratorPort(), "GET / HTTP/1.0\r\n\r\n");
            EXPECT_NE(answer.find("<ul>"), std::string::npos) << answer;
        }
    }
}
