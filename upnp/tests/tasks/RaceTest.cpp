// Eight threads set a state variable while four read it and write SOAP answers from it: every
// answer must carry one whole value. Eight threads count one variable up: no step may be lost.
// CI runs these under ThreadSanitizer (label upnp-concurrency).
#include "KL_StringOutputStream.h"
#include "UP_ActionCall.h"
#include "UP_Service.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* const kScpd =
    "<?xml version=\"1.0\"?><scpd xmlns=\"urn:schemas-upnp-org:service-1-0\">"
    "<actionList><action><name>GetValue</name><argumentList><argument><name>Value</name>"
    "<direction>out</direction><relatedStateVariable>Shared</relatedStateVariable>"
    "</argument></argumentList></action></actionList><serviceStateTable>"
    "<stateVariable sendEvents=\"yes\"><name>Shared</name><dataType>string</dataType>"
    "</stateVariable><stateVariable sendEvents=\"yes\"><name>Counter</name><dataType>ui4</dataType>"
    "</stateVariable></serviceStateTable></scpd>";

// A value made of one repeated letter, long enough to live on the heap.
std::string ValueOf(int writer, int round) {
    return std::string(64 + (round % 64), char('a' + writer));
}

// True when the text between <Value> and </Value> is one letter repeated.
bool HoldsWholeValue(const std::string& response) {
    std::string::size_type start = response.find("<Value>");
    std::string::size_type end = response.find("</Value>");
    if (start == std::string::npos || end == std::string::npos || end <= start + 7) {
        return false;
    }
    std::string value = response.substr(start + 7, end - start - 7);
    return value.find_first_not_of(value[0]) == std::string::npos;
}

} // namespace

TEST(StateVariableRaceTest, WritersAndSoapReadersShareOneVariable) {
    UP_Service service(nullptr, "urn:schemas-lanyard-org:service:Test:1", "urn:lanyard-org:serviceId:Test");
    ASSERT_EQ(service.SetSCPDXML(kScpd), KL_SUCCESS);
    ASSERT_EQ(service.SetStateVariable("Shared", ValueOf(0, 0).c_str()), KL_SUCCESS);
    UP_ActionDesc* desc = service.FindActionDesc("GetValue");
    ASSERT_NE(desc, nullptr);

    constexpr int kWriters = 8;
    constexpr int kReaders = 4;
    constexpr int kRounds = 2000;
    std::atomic<int> writers_left(kWriters);
    std::atomic<int> bad_answers(0);
    std::atomic<int> answers(0);
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w) {
        threads.emplace_back([&, w] {
            for (int round = 0; round < kRounds; ++round) {
                if (KL_FAILED(service.SetStateVariable("Shared", ValueOf(w, round).c_str()))) {
                    ++bad_answers;
                }
            }
            --writers_left;
        });
    }
    for (int r = 0; r < kReaders; ++r) {
        threads.emplace_back([&] {
            do {
                UP_ActionCall call(*desc);
                KL_StringOutputStream out;
                KL_String value;
                if (KL_FAILED(call.SetArgumentsOutFromStateVariable()) ||
                    KL_FAILED(call.FormatSoapResponse(out)) || !HoldsWholeValue(out.GetString().GetChars()) ||
                    KL_FAILED(service.GetStateVariableValue("Shared", value)) || value.IsEmpty()) {
                    ++bad_answers;
                }
                ++answers;
            } while (writers_left.load() > 0);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(bad_answers.load(), 0);
    EXPECT_GT(answers.load(), 0);
}

TEST(StateVariableRaceTest, IncrementsFromManyThreadsAreNotLost) {
    UP_Service service(nullptr, "urn:schemas-lanyard-org:service:Test:1", "urn:lanyard-org:serviceId:Test");
    ASSERT_EQ(service.SetSCPDXML(kScpd), KL_SUCCESS);
    ASSERT_EQ(service.SetStateVariable("Counter", "0"), KL_SUCCESS);
    constexpr int kThreads = 8;
    constexpr int kRounds = 2000;
    std::atomic<int> failures(0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int round = 0; round < kRounds; ++round) {
                if (KL_FAILED(service.IncStateVariable("Counter"))) {
                    ++failures;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
    KL_String value;
    ASSERT_EQ(service.GetStateVariableValue("Counter", value), KL_SUCCESS);
    EXPECT_STREQ(value.GetChars(), std::to_string(kThreads * kRounds).c_str());
}
