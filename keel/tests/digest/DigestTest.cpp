// SHA-1, SHA-256, MD5 and HMAC against the published vectors and the system's own tools
// (sha1sum, sha256sum, md5sum, openssl dgst).
#include "KL_DataBuffer.h"
#include "KL_Digest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Algorithm {
    KL_Digest::Algorithm id;
    const char* tool;    // prints the hex digest of a file as its first field
    const char* openssl; // dgst option of the HMAC reference, or null
};
const Algorithm kAlgorithms[] = {{KL_Digest::ALGORITHM_SHA1, "sha1sum", "-sha1"},
                                 {KL_Digest::ALGORITHM_SHA256, "sha256sum", nullptr},
                                 {KL_Digest::ALGORITHM_MD5, "md5sum", "-md5"}};

std::string Hex(const KL_DataBuffer& buffer) {
    std::string hex;
    char pair[3];
    for (KL_Size i = 0; i < buffer.GetDataSize(); ++i) {
        std::snprintf(pair, sizeof pair, "%02x", buffer.GetData()[i]);
        hex += pair;
    }
    return hex;
}

// The digest of data fed in pieces of `piece` bytes (0: all at once).
std::string Compute(KL_Digest* created, const std::string& data, size_t piece = 0) {
    std::unique_ptr<KL_Digest> digest(created);
    if (!digest) {
        return "";
    }
    const auto* bytes = reinterpret_cast<const KL_Byte*>(data.data());
    size_t step = piece ? piece : data.size();
    for (size_t at = 0; at < data.size(); at += step) {
        size_t size = std::min(step, data.size() - at);
        if (digest->Update(bytes + at, static_cast<KL_Size>(size)) != KL_SUCCESS) {
            return "update failed";
        }
    }
    KL_DataBuffer out;
    if (digest->GetDigest(out) != KL_SUCCESS || out.GetDataSize() != digest->GetSize()) {
        return "digest failed";
    }
    return Hex(out);
}

KL_Digest* Make(KL_Digest::Algorithm algorithm) {
    KL_Digest* digest = nullptr;
    return KL_Digest::Create(algorithm, digest) == KL_SUCCESS ? digest : nullptr;
}

KL_Digest* MakeHmac(KL_Digest::Algorithm algorithm, const std::string& key) {
    KL_Digest* digest = nullptr;
    KL_Result result = KL_Digest::CreateHmac(algorithm, reinterpret_cast<const KL_Byte*>(key.data()),
                                             static_cast<KL_Size>(key.size()), digest);
    return result == KL_SUCCESS ? digest : nullptr;
}

// The first line of a command's output, its last field when `last` (else its first).
std::string RunTool(const std::string& command, bool last) {
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return "";
    }
    char line[512] = {};
    std::string text = std::fgets(line, sizeof line, pipe) ? line : "";
    pclose(pipe);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    if (last) {
        return text.substr(text.rfind(' ') + 1);
    }
    return text.substr(0, text.find(' '));
}

class TempFile {
public:
    explicit TempFile(const std::string& data) {
        int fd = mkstemp(m_Path);
        if (fd >= 0) {
            close(fd);
        }
        std::ofstream(m_Path, std::ios::binary) << data;
    }
    ~TempFile() { unlink(m_Path); }
    const char* Path() const { return m_Path; }

private:
    char m_Path[32] = "/tmp/keel-digest-XXXXXX";
};

std::string RandomBytes(std::mt19937& random, size_t size) {
    std::string data(size, '\0');
    for (auto& c : data) {
        c = static_cast<char>(random());
    }
    return data;
}

} // namespace

TEST(Digest, PublishedVectors) {
    const struct {
        KL_Digest::Algorithm algorithm;
        const char* message;
        const char* hex;
    } cases[] = {
        {KL_Digest::ALGORITHM_SHA1, "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {KL_Digest::ALGORITHM_SHA1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {KL_Digest::ALGORITHM_SHA256, "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {KL_Digest::ALGORITHM_SHA256, "abc",
         "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {KL_Digest::ALGORITHM_MD5, "", "d41d8cd98f00b204e9800998ecf8427e"},
        {KL_Digest::ALGORITHM_MD5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Compute(Make(c.algorithm), c.message), c.hex) << c.algorithm << " '" << c.message << "'";
    }
}

TEST(Digest, UnknownAlgorithmsAreRefused) {
    KL_Digest* digest = nullptr;
    EXPECT_EQ(KL_Digest::Create(static_cast<KL_Digest::Algorithm>(3), digest), KL_ERROR_NOT_SUPPORTED);
    EXPECT_EQ(digest, nullptr);
    const KL_Byte key[] = {1, 2, 3};
    EXPECT_EQ(KL_Digest::CreateHmac(KL_Digest::ALGORITHM_SHA256, key, 3, digest), KL_ERROR_NOT_SUPPORTED);
    EXPECT_EQ(KL_Digest::CreateHmac(static_cast<KL_Digest::Algorithm>(-1), key, 3, digest),
              KL_ERROR_NOT_SUPPORTED);
    EXPECT_EQ(KL_Digest::CreateHmac(KL_Digest::ALGORITHM_SHA1, nullptr, 3, digest),
              KL_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(digest, nullptr);
}

// Lengths around the padding boundaries, each fed whole and in pieces of 1, 63 and 65 bytes.
TEST(Digest, MatchesSystemTools) {
    unsigned seed = std::random_device{}();
    std::printf("message seed %u\n", seed);
    std::mt19937 random(seed);
    for (size_t size : {0, 1, 55, 56, 63, 64, 65, 119, 120, 1048577}) {
        std::string data = RandomBytes(random, size);
        TempFile file(data);
        for (const auto& algorithm : kAlgorithms) {
            std::string expected = RunTool(std::string(algorithm.tool) + " " + file.Path(), false);
            ASSERT_FALSE(expected.empty()) << algorithm.tool;
            for (size_t piece : {0, 1, 63, 65}) {
                EXPECT_EQ(Compute(Make(algorithm.id), data, piece), expected)
                    << algorithm.tool << " size " << size << " piece " << piece << " seed " << seed;
            }
        }
    }
}

TEST(Hmac, MatchesOpenssl) {
    unsigned seed = std::random_device{}();
    std::printf("key seed %u\n", seed);
    std::mt19937 random(seed);
    std::string data = RandomBytes(random, 1000);
    TempFile file(data);
    for (size_t keySize : {0, 20, 64, 65, 100}) {
        std::string key;
        for (size_t i = 0; i < keySize; ++i) {
            key += static_cast<char>('a' + random() % 26);
        }
        for (const auto& algorithm : kAlgorithms) {
            if (algorithm.openssl == nullptr) {
                continue;
            }
            std::string expected = RunTool(std::string("openssl dgst ") + algorithm.openssl + " -hmac '" +
                                               key + "' " + file.Path(),
                                           true);
            ASSERT_FALSE(expected.empty()) << "openssl dgst failed";
            EXPECT_EQ(Compute(MakeHmac(algorithm.id, key), data, 7), expected)
                << algorithm.openssl << " key size " << keySize << " seed " << seed;
        }
    }
}

TEST(Hmac, LongKeyEqualsItsDigest) {
    std::string key(100, 'k');
    for (auto algorithm : {KL_Digest::ALGORITHM_SHA1, KL_Digest::ALGORITHM_MD5}) {
        std::unique_ptr<KL_Digest> keyDigest(Make(algorithm));
        ASSERT_TRUE(keyDigest);
        keyDigest->Update(reinterpret_cast<const KL_Byte*>(key.data()), static_cast<KL_Size>(key.size()));
        KL_DataBuffer hashed;
        ASSERT_EQ(keyDigest->GetDigest(hashed), KL_SUCCESS);
        std::string hashedKey(reinterpret_cast<const char*>(hashed.GetData()), hashed.GetDataSize());
        EXPECT_EQ(Compute(MakeHmac(algorithm, key), "message"),
                  Compute(MakeHmac(algorithm, hashedKey), "message"));
    }
}
