// Every parser fed every prefix of valid inputs and random mutations of them: only its own
// result codes, never a crash (the sanitizers watch memory). KEEL_FUZZ_SEED repeats a run.
#include "KL_Base64.h"
#include "KL_Utils.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {
using Parser = std::function<KL_Result(const std::string&)>;

struct Target {
    const char* name;
    Parser parse;
    std::set<KL_Result> allowed;
    std::vector<std::string> seeds;
};

uint32_t Seed() {
    const char* configured = std::getenv("KEEL_FUZZ_SEED");
    uint32_t seed = configured ? uint32_t(std::strtoul(configured, nullptr, 10)) : std::random_device{}();
    std::printf("KEEL_FUZZ_SEED=%u\n", seed);
    return seed;
}

std::string Mutate(std::string text, std::mt19937& random) {
    const char alphabet[] = "0123456789+-.eE =;\"\\\r\n\tabcxyzAZ/_\x80\xff\x01";
    int edits = 1 + int(random() % 4);
    for (int i = 0; i < edits; ++i) {
        char c = alphabet[random() % (sizeof alphabet - 1)];
        size_t at = text.empty() ? 0 : random() % (text.size() + 1);
        switch (random() % 4) {
        case 0:
            text.insert(at, 1, c);
            break;
        case 1:
            if (at < text.size()) {
                text.erase(at, 1);
            }
            break;
        case 2:
            if (at < text.size()) {
                text[at] = c;
            }
            break;
        default:
            text.insert(at, text.substr(0, random() % 40)); // grow by repetition
            break;
        }
    }
    return text;
}

std::vector<Target> Targets() {
    const KL_Result bad = KL_ERROR_INVALID_PARAMETERS;
    const KL_Result over = KL_ERROR_OVERFLOW;
    auto relaxed_too = [](auto parse) {
        return [parse](const std::string& s) {
            KL_Result strict = parse(s, false);
            KL_Result relaxed = parse(s, true);
            return KL_SUCCEEDED(strict) ? relaxed : strict; // strict success implies relaxed success
        };
    };
    return {
        {"int64",
         relaxed_too([](const std::string& s, bool r) {
             int64_t v;
             return KL_ParseInteger64(s.c_str(), v, r);
         }),
         {KL_SUCCESS, bad, over},
         {"-9223372036854775808", "9223372036854775807", " 12a", "+0"}},
        {"uint64",
         relaxed_too([](const std::string& s, bool r) {
             uint64_t v;
             return KL_ParseInteger64U(s.c_str(), v, r);
         }),
         {KL_SUCCESS, bad, over},
         {"18446744073709551615", "\t7x"}},
        {"int32",
         relaxed_too([](const std::string& s, bool r) {
             int32_t v;
             return KL_ParseInteger32(s.c_str(), v, r);
         }),
         {KL_SUCCESS, bad, over},
         {"-2147483648", "2147483647"}},
        {"uint32",
         relaxed_too([](const std::string& s, bool r) {
             uint32_t v;
             return KL_ParseInteger32U(s.c_str(), v, r);
         }),
         {KL_SUCCESS, bad, over},
         {"4294967295"}},
        {"float",
         relaxed_too([](const std::string& s, bool r) {
             float v;
             return KL_ParseFloat(s.c_str(), v, r);
         }),
         {KL_SUCCESS, bad, over},
         {"-1.25e-3", ".5", "2E+3", " 7.75x"}},
        {"params",
         [](const std::string& s) {
             KL_Map<KL_String, KL_String> map;
             return KL_ParseParameterList(s.c_str(), map);
         },
         {KL_SUCCESS, KL_ERROR_INVALID_SYNTAX},
         {"a=1; b=\"x;y\"", "name = \"q\\\"uote\" ; n2=v2"}},
        {"base64",
         [](const std::string& s) {
             KL_DataBuffer data;
             KL_Result result = KL_Base64::Decode(s.data(), KL_Size(s.size()), data, s.size() % 2 == 0);
             EXPECT_LE(data.GetBufferSize(), s.size());
             return result;
         },
         {KL_SUCCESS, KL_ERROR_INVALID_FORMAT},
         {"YWJjZGVm\r\nZw==", "_w==", "YWI="}},
        {"hex",
         [](const std::string& s) {
             KL_DataBuffer data;
             return KL_HexToBytes(s.c_str(), data);
         },
         {KL_SUCCESS, bad, KL_ERROR_INVALID_SYNTAX},
         {"00ff10AB"}},
    };
}
} // namespace

TEST(Fuzz, PrefixesAndMutations) {
    std::mt19937 random(Seed());
    for (const Target& target : Targets()) {
        for (const std::string& seed : target.seeds) {
            for (size_t n = 0; n <= seed.size(); ++n) {
                std::string prefix = seed.substr(0, n);
                EXPECT_TRUE(target.allowed.count(target.parse(prefix)))
                    << target.name << " prefix [" << prefix << "]";
            }
        }
        for (int i = 0; i < 10000; ++i) {
            std::string input = Mutate(target.seeds[random() % target.seeds.size()], random);
            KL_Result result = target.parse(input);
            ASSERT_TRUE(target.allowed.count(result)) << target.name << " [" << input << "] gave " << result;
        }
    }
}
