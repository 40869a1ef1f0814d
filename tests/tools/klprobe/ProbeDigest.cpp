// klprobe digest / hmac: SHA-1, SHA-256, MD5 and HMAC of a file or of standard input, in
// lower-case hex.
#include "KL_DataBuffer.h"
#include "KL_Digest.h"
#include "Probe.h"

#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

bool AlgorithmFromName(const std::string& name, KL_Digest::Algorithm& algorithm) {
    if (name == "sha1") {
        algorithm = KL_Digest::ALGORITHM_SHA1;
    } else if (name == "sha256") {
        algorithm = KL_Digest::ALGORITHM_SHA256;
    } else if (name == "md5") {
        algorithm = KL_Digest::ALGORITHM_MD5;
    } else {
        return false;
    }
    return true;
}

// Feeds the file (standard input when path is empty) to the digest and prints the result.
int DigestAndPrint(KL_Digest* created, const std::string& path) {
    std::unique_ptr<KL_Digest> digest(created);
    int fd = path.empty() ? 0 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::perror(path.c_str());
        return 1;
    }
    static KL_Byte buffer[65536];
    ssize_t count = 0;
    while ((count = ::read(fd, buffer, sizeof buffer)) > 0) {
        KL_Result result = digest->Update(buffer, static_cast<KL_Size>(count));
        if (KL_FAILED(result)) {
            return klprobe::Fail(result);
        }
    }
    if (fd != 0) {
        ::close(fd);
    }
    if (count < 0) {
        std::perror("read");
        return 1;
    }
    KL_DataBuffer out;
    KL_Result result = digest->GetDigest(out);
    if (KL_FAILED(result)) {
        return klprobe::Fail(result);
    }
    for (KL_Size i = 0; i < out.GetDataSize(); ++i) {
        std::printf("%02x", out.GetData()[i]);
    }
    std::printf("\n");
    return 0;
}

} // namespace

KLPROBE_COMMAND(digest, "digest sha1|sha256|md5 [FILE]") {
    KL_Digest::Algorithm algorithm;
    if (args.empty() || args.size() > 2 || !AlgorithmFromName(args[0], algorithm)) {
        return klprobe::Usage("digest sha1|sha256|md5 [FILE]");
    }
    KL_Digest* digest = nullptr;
    KL_Result result = KL_Digest::Create(algorithm, digest);
    if (KL_FAILED(result)) {
        return klprobe::Fail(result);
    }
    return DigestAndPrint(digest, args.size() == 2 ? args[1] : std::string());
}

KLPROBE_COMMAND(hmac, "hmac sha1|md5 KEY [FILE]") {
    KL_Digest::Algorithm algorithm;
    if (args.size() < 2 || args.size() > 3 || !AlgorithmFromName(args[0], algorithm)) {
        return klprobe::Usage("hmac sha1|md5 KEY [FILE]");
    }
    KL_Digest* digest = nullptr;
    const std::string& key = args[1];
    KL_Result result = KL_Digest::CreateHmac(algorithm, reinterpret_cast<const KL_Byte*>(key.data()),
                                             static_cast<KL_Size>(key.size()), digest);
    if (KL_FAILED(result)) {
        return klprobe::Fail(result);
    }
    return DigestAndPrint(digest, args.size() == 3 ? args[2] : std::string());
}
