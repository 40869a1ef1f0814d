// Test support for the media server: a shared folder in a temporary directory, a file media
// server with its services set up (not started), and actions and file requests run directly
// with a request context on 127.0.0.1.
#pragma once

#include "KL_HttpEntity.h"
#include "KL_HttpRequest.h"
#include "KL_HttpResponse.h"
#include "KL_SocketAddress.h"
#include "UP_ActionCall.h"
#include "UP_FileMediaServer.h"
#include "UP_HttpRequestContext.h"
#include "UP_Service.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace media_test {

namespace fs = std::filesystem;
using Arguments = std::vector<std::pair<std::string, std::string>>;

struct ActionResult {
    KL_Result result = KL_FAILURE;
    uint32_t code = 0;
    std::vector<std::pair<std::string, std::string>> out; // in SCPD order
    std::string Get(const std::string& name) const {
        for (const auto& [key, value] : out) {
            if (key == name) {
                return value;
            }
        }
        return std::string();
    }
};

// Every match of the expression's first group, in order.
inline std::vector<std::string> Matches(const std::string& text, const std::regex& expression) {
    std::vector<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), expression); it != std::sregex_iterator();
         ++it) {
        found.push_back((*it)[1].str());
    }
    return found;
}
inline std::vector<std::string> Matches(const std::string& text, const char* pattern) {
    return Matches(text, std::regex(pattern));
}
// The helpers that threads call compile their expression once: compiling fills a cache of the
// locale's without a lock, which ThreadSanitizer reports when two threads do it first at once.
inline std::vector<std::string> Ids(const std::string& didl) {
    static const std::regex expression("<(?:item|container) id=\"([^\"]*)\"");
    return Matches(didl, expression);
}
inline std::vector<std::string> Titles(const std::string& didl) {
    static const std::regex expression("<dc:title>([^<]*)</dc:title>");
    return Matches(didl, expression);
}
inline std::vector<std::string> Resources(const std::string& didl) {
    static const std::regex expression("<res [^>]*>([^<]*)</res>");
    return Matches(didl, expression);
}

inline void WriteFile(const fs::path& path, const std::string& content = "data") {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

// Sets the modification time, in seconds since 1970.
inline void SetTime(const fs::path& path, time_t seconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

// xmllint's verdict on a document; true when xmllint is not installed.
inline bool PassesXmllint(const std::string& xml) {
    if (std::system("command -v xmllint >/dev/null 2>&1") != 0) {
        return true;
    }
    char name[] = "/tmp/lanyard-didl-XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    std::ofstream(name, std::ios::binary) << xml;
    const bool ok = std::system((std::string("xmllint --noout ") + name + " 2>/dev/null").c_str()) == 0;
    std::remove(name);
    return ok;
}

class MediaFixture : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/lanyard-media-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_Base = pattern;
        m_Share = m_Base / "share";
        fs::create_directories(m_Share);
    }
    void TearDown() override {
        m_Server.reset();
        std::error_code ignored;
        fs::remove_all(m_Base, ignored);
    }

    // The server for the share (or another root), its services set up without starting.
    UP_FileMediaServer& Server(const char* root = nullptr) {
        if (!m_Server) {
            m_Server = std::make_unique<UP_FileMediaServer>(root != nullptr ? root : m_Share.c_str(), "Test");
            EXPECT_EQ(m_Server->SetupServices(), KL_SUCCESS);
        }
        return *m_Server;
    }

    ActionResult Call(const char* action_name, const Arguments& arguments, const char* user_agent = nullptr) {
        ActionResult answer;
        UP_ActionDesc* desc = nullptr;
        for (UP_Service* service : Server().GetServices()) {
            if (desc == nullptr) {
                desc = service->FindActionDesc(action_name);
            }
        }
        if (desc == nullptr) {
            ADD_FAILURE() << "no action " << action_name;
            return answer;
        }
        UP_ActionCall call(*desc);
        for (const auto& [name, value] : arguments) {
            (void)call.SetArgumentValue(name.c_str(), value.c_str()); // a refused value stays missing
        }
        KL_HttpRequest request("/control.xml", "POST");
        if (user_agent != nullptr) {
            (void)request.GetHeaders().SetHeader("User-Agent", user_agent);
        }
        const KL_SocketAddress local(m_LocalAddress, 4321);
        const KL_SocketAddress remote(KL_IpAddress(127, 0, 0, 1), 50000);
        UP_HttpRequestContext context(&local, &remote, &request);
        answer.result = Server().OnAction(call, context);
        answer.code = call.GetActionErrorCode();
        for (UP_Argument* argument : call.GetArguments()) {
            if (argument->GetDesc()->GetDirection() == "out") {
                answer.out.emplace_back(argument->GetDesc()->GetName().GetChars(),
                                        argument->GetValue().GetChars());
            }
        }
        return answer;
    }

    ActionResult Browse(const std::string& id, const std::string& flag = "BrowseDirectChildren",
                        const std::string& filter = "*", const std::string& start = "0",
                        const std::string& count = "0", const std::string& sort = "") {
        return Call("Browse", {{"ObjectID", id},
                               {"BrowseFlag", flag},
                               {"Filter", filter},
                               {"StartingIndex", start},
                               {"RequestedCount", count},
                               {"SortCriteria", sort}});
    }

    ActionResult Search(const std::string& id, const std::string& criteria) {
        return Call("Search", {{"ContainerID", id},
                               {"SearchCriteria", criteria},
                               {"Filter", "*"},
                               {"StartingIndex", "0"},
                               {"RequestedCount", "0"},
                               {"SortCriteria", ""}});
    }

    // A file request run directly; the status, and the body length the response announces.
    std::pair<int, uint64_t> Get(const char* url, const char* method = "GET") {
        KL_HttpRequest request((std::string("http://127.0.0.1:4321") + url).c_str(), method, "HTTP/1.1");
        KL_HttpResponse response(200, "OK", "HTTP/1.1");
        (void)response.SetEntity(new KL_HttpEntity());
        const KL_SocketAddress local(KL_IpAddress(127, 0, 0, 1), 4321);
        const KL_SocketAddress remote(KL_IpAddress(127, 0, 0, 1), 50000);
        UP_HttpRequestContext context(&local, &remote, &request);
        const KL_Result result = Server().ProcessHttpGetRequest(request, context, response);
        if (KL_FAILED(result)) {
            return {result == KL_ERROR_NO_SUCH_ITEM ? 404 : 500, 0};
        }
        const KL_HttpEntity* entity = response.GetEntity();
        return {response.GetStatusCode(), entity != nullptr ? entity->GetContentLength() : 0};
    }

    fs::path m_Base;
    fs::path m_Share;
    std::unique_ptr<UP_FileMediaServer> m_Server;
    KL_IpAddress m_LocalAddress = KL_IpAddress(127, 0, 0, 1); // where actions arrive
};

} // namespace media_test
