// Answers whose writing fails: every write of a SOAP answer, a SOAP fault, the device description,
// a Browse answer carrying a DIDL-Lite result and a chunked answer is made to fail in turn (the connection's
// n-th write, whole and in 64-byte pieces). Each failure must be handed up, nothing may be written after it,
// and the connection must not go on to the next request.
#include "../host/HostTestSupport.h"
#include "HttpTestSupport.h"
#include "ScriptedSocket.h"
#include "UP_ActionCall.h"
#include "UP_FileMediaServer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <vector>

using upnp_test::ScriptedConnection;

namespace {

namespace fs = std::filesystem;

// A writer over a scripted connection; what it reports, one result per answer, in order.
using Writer = std::function<std::vector<KL_Result>(const std::shared_ptr<ScriptedConnection>&)>;

void ExpectEveryWriteFailureHandedUp(const Writer& writer) {
    for (size_t piece : {SIZE_MAX, size_t{64}}) {
        SCOPED_TRACE(piece == SIZE_MAX ? "whole writes" : "64-byte writes");
        auto full = std::make_shared<ScriptedConnection>();
        full->write_piece = piece;
        const std::vector<KL_Result> answered = writer(full);
        ASSERT_FALSE(answered.empty());
        for (KL_Result result : answered) {
            ASSERT_EQ(result, KL_SUCCESS);
        }
        for (int n = 1; n <= full->writes; ++n) {
            auto state = std::make_shared<ScriptedConnection>();
            state->write_piece = piece;
            state->fail_at = n;
            const std::vector<KL_Result> results = writer(state);
            ASSERT_FALSE(results.empty()) << "write " << n;
            for (size_t i = 0; i + 1 < results.size(); ++i) {
                ASSERT_EQ(results[i], KL_SUCCESS) << "write " << n;
            }
            ASSERT_TRUE(KL_FAILED(results.back())) << "write " << n << " failed unnoticed";
            ASSERT_EQ(state->writes, n) << "written on after the failure";
            ASSERT_LT(state->output.size(), full->output.size());
            ASSERT_EQ(full->output.compare(0, state->output.size(), state->output), 0) << "write " << n;
        }
    }
}

// The requests, back to back on one kept-alive connection, to the handler.
Writer Connection(KL_HttpRequestHandler& handler, std::string requests) {
    return [&handler, requests](const std::shared_ptr<ScriptedConnection>& state) {
        state->input = requests;
        return upnp_test::Serve(handler, state);
    };
}

std::string Post(const std::string& path, const std::string& service_type, const std::string& action,
                 const std::string& arguments) {
    const std::string body = host_test::Envelope("<u:" + action + " xmlns:u=\"" + service_type + "\">" +
                                                 arguments + "</u:" + action + ">");
    return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nSOAPAction: \"" + service_type + "#" + action +
           "\"\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
           body;
}

std::string Get(const std::string& path) {
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

class AnswerWriteFailure : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(m_Counter.Start(), KL_SUCCESS); }

    CounterDevice m_Counter{"Writes"};
};

} // namespace

TEST_F(AnswerWriteFailure, SoapAnswer) {
    const std::string apply = Post(host_test::ControlPath(m_Counter), CounterDevice::kServiceType, "Apply",
                                   host_test::Arguments("Set", "7", std::string(300, 'n')));
    ExpectEveryWriteFailureHandedUp(Connection(m_Counter, apply + apply));
}

TEST_F(AnswerWriteFailure, SoapFault) {
    const std::string unknown =
        Post(host_test::ControlPath(m_Counter), CounterDevice::kServiceType, "Nope", "");
    ExpectEveryWriteFailureHandedUp(Connection(m_Counter, unknown + unknown));
}

TEST_F(AnswerWriteFailure, DeviceDescription) {
    const std::string get = Get("/DeviceDescription.xml");
    ExpectEveryWriteFailureHandedUp(Connection(m_Counter, get + get));
}

TEST(AnswerWriteFailureDidl, BrowseAnswer) {
    char pattern[] = "/tmp/lanyard-writes-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path share(pattern);
    for (const char* name : {"a & b.mp3", "<c>.jpg", "d.txt"}) {
        std::ofstream(share / name) << "data";
    }
    fs::create_directory(share / "folder");
    {
        UP_FileMediaServer server(share.c_str(), "Writes");
        ASSERT_EQ(server.Start(), KL_SUCCESS);
        UP_Service* directory = nullptr;
        for (UP_Service* service : server.GetServices()) {
            if (service->GetServiceType() == "urn:schemas-upnp-org:service:ContentDirectory:1") {
                directory = service;
            }
        }
        ASSERT_NE(directory, nullptr);
        const std::string browse =
            Post(directory->GetControlURL().GetChars(), directory->GetServiceType().GetChars(), "Browse",
                 "<ObjectID>0</ObjectID><BrowseFlag>BrowseDirectChildren</BrowseFlag>"
                 "<Filter>*</Filter><StartingIndex>0</StartingIndex>"
                 "<RequestedCount>0</RequestedCount><SortCriteria></SortCriteria>");
        ExpectEveryWriteFailureHandedUp(Connection(server, browse + browse));
    }
    fs::remove_all(share);
}

// A chunked answer: no last chunk after a failed one.
TEST(AnswerWriteFailureChunked, ChunkedAnswer) {
    http_test::TestHandler handler;
    const std::string get = http_test::Get("/chunked");
    ExpectEveryWriteFailureHandedUp(Connection(handler, get + get));
}

// The SOAP writers themselves, straight into the failing stream.
TEST_F(AnswerWriteFailure, SoapWriters) {
    UP_ActionDesc* desc = m_Counter.GetCounterService()->FindActionDesc("Apply");
    ASSERT_NE(desc, nullptr);
    UP_ActionCall call(*desc);
    ASSERT_EQ(call.SetArgumentValue("NewValue", "7"), KL_SUCCESS);
    ASSERT_EQ(call.SetArgumentValue("Echo", std::string(300, '<').c_str()), KL_SUCCESS);
    ExpectEveryWriteFailureHandedUp([&call](const std::shared_ptr<ScriptedConnection>& state) {
        upnp_test::RecordingOutput output(state);
        return std::vector<KL_Result>{call.FormatSoapResponse(output)};
    });
    ExpectEveryWriteFailureHandedUp([](const std::shared_ptr<ScriptedConnection>& state) {
        upnp_test::RecordingOutput output(state);
        return std::vector<KL_Result>{UP_ActionCall::FormatSoapError(UP_ACTION_ERROR_INVALID_ACTION, output)};
    });
}
