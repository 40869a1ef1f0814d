#include "KL_HttpRequest.h"
#include "UP_HttpMessageHelper.h"
#include "UP_HttpRequestContext.h"
#include "UP_ProtocolInfo.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char* const kFlags = "DLNA.ORG_FLAGS=01500000000000000000000000000000";

std::string Text(const UP_ProtocolInfo& info) {
    return UP_ProtocolInfo::ToText(info).GetChars();
}

// Every MIME type the tables name, plus a few they do not.
const char* const kMimeTypes[] = {
    "audio/L16",
    "audio/L16;rate=44100;channels=2",
    "audio/L16;rate=44100;channels=1",
    "audio/L16;rate=32000;channels=1",
    "audio/wav",
    "audio/x-wav",
    "audio/x-alac",
    "audio/mpeg",
    "audio/mp4",
    "audio/x-ms-wma",
    "audio/x-aiff",
    "image/gif",
    "image/jpeg",
    "image/jp2",
    "image/png",
    "image/bmp",
    "image/tiff",
    "image/jpg",
    "video/avi",
    "video/mp4",
    "video/mpeg",
    "video/quicktime",
    "video/x-ms-wmv",
    "video/x-msvideo",
    "video/x-ms-asf",
    "video/x-matroska",
    "video/x-flv",
    "video/MP2T",
    "text/plain",
    "text/xml; charset=\"utf-8\"",
    "application/octet-stream",
};

} // namespace

TEST(ProtocolInfoTest, ParseResults) {
    struct Row {
        const char* text;
        KL_Result result;
        bool valid;
    } rows[] = {
        {"http-get:*:video/mp4:*", KL_SUCCESS, true},
        {"http-get:*:video/mp4", KL_ERROR_INVALID_SYNTAX, false},
        {"", KL_ERROR_INVALID_PARAMETERS, false},
        {nullptr, KL_ERROR_INVALID_PARAMETERS, false},
        {"a:b:c:d:e", KL_ERROR_INVALID_SYNTAX, false},
        {"http-get:*:video/mp4:DLNA.ORG_OP=01;DLNA.ORG_PN=AVC", KL_FAILURE, false}, // order
        {"http-get:*:video/mp4:DLNA.ORG_PN=A;DLNA.ORG_PN=B", KL_FAILURE, false},    // repeated
        {"http-get:*:video/mp4:DLNA.ORG_OP=1", KL_FAILURE, false},                  // length
        {"http-get:*:video/mp4:DLNA.ORG_OP=02", KL_FAILURE, false},                 // set
        {"http-get:*:video/mp4:DLNA.ORG_CI=0;", KL_SUCCESS, true},                  // trailing ";"
        {"http-get:*:video/mp4:DLNA.ORG_PN", KL_ERROR_INVALID_SYNTAX, false},       // no "="
        {"http-get:*:video/mp4:DLNA.ORG_PN=a=b", KL_ERROR_INVALID_SYNTAX, false},
        {"http-get:*:video/mp4:", KL_ERROR_INVALID_SYNTAX, false},
        {"http-get:*:video/mp4:DLNA.ORG_FLAGS=0150000000000000000000000000000", KL_FAILURE, false},
        {"http-get:*:video/mp4:DLNA.ORG_PN=A-B", KL_FAILURE, false},
        {"http-get:*:video/mp4:DLNA.ORG_PS=-1,1/2;DLNA.ORG_MAXSP=1.5", KL_SUCCESS, true},
        {"http-get:*:video/mp4:NOUNDERSCORE=1", KL_FAILURE, false},
        {"http-get:*:video/mp4:X.Y_Z=1;DLNA.ORG_PN=MP3", KL_SUCCESS, true}, // other first
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text ? row.text : "(null)");
        UP_ProtocolInfo info;
        EXPECT_EQ(info.ParseText(row.text), row.result);
        EXPECT_EQ(info.IsValid(), row.valid);
        EXPECT_EQ(UP_ProtocolInfo(row.text).IsValid(), row.valid);
    }
}

TEST(ProtocolInfoTest, FieldsAndTextForm) {
    UP_ProtocolInfo info("http-get:*:audio/mpeg:DLNA.ORG_OP=01;DLNA.ORG_CI=0");
    ASSERT_TRUE(info.IsValid());
    EXPECT_EQ(Text(info), "http-get:*:audio/mpeg:DLNA.ORG_OP=01;DLNA.ORG_CI=0");
    EXPECT_STREQ(info.GetDlnaOp().GetChars(), "01");
    EXPECT_STREQ(info.GetDlnaCi().GetChars(), "0");

    // Other parameters are kept in order after the DLNA ones; bad ones are dropped.
    UP_ProtocolInfo other("http-get:*:video/mp4:A_b=1;DLNA.ORG_PN=AVC;B_c=x y;C_=2;DLNA.ORG_CI=1;");
    ASSERT_TRUE(other.IsValid());
    EXPECT_EQ(Text(other), "http-get:*:video/mp4:DLNA.ORG_PN=AVC;DLNA.ORG_CI=1;A_b=1");

    // Failed values repeat the fourth field as given.
    UP_ProtocolInfo bad("http-get:*:video/mp4:DLNA.ORG_OP=1");
    EXPECT_EQ(Text(bad), "http-get:*:video/mp4:DLNA.ORG_OP=1");
    EXPECT_TRUE(bad.GetDlnaOp().IsEmpty());

    UP_ProtocolInfo four("http-get", "*", "image/png", "DLNA.ORG_PN=PNG_LRG");
    EXPECT_TRUE(four.IsValid());
    EXPECT_STREQ(four.GetDlnaPn().GetChars(), "PNG_LRG");
    EXPECT_FALSE(UP_ProtocolInfo().IsValid());
}

TEST(ProtocolInfoTest, ValidateFieldAndMatch) {
    EXPECT_EQ(UP_ProtocolInfo::ValidateField("01", UP_DLNAFlagCharsToValidate, 2), KL_SUCCESS);
    EXPECT_EQ(UP_ProtocolInfo::ValidateField("", UP_DLNAFlagCharsToValidate), KL_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(UP_ProtocolInfo::ValidateField(nullptr, UP_DLNAFlagCharsToValidate),
              KL_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(UP_ProtocolInfo::ValidateField("012", UP_DLNAFlagCharsToValidate, 2), KL_ERROR_INVALID_SYNTAX);
    EXPECT_EQ(UP_ProtocolInfo::ValidateField("0x", UP_DLNAHexCharsToValidate), KL_ERROR_INVALID_SYNTAX);

    UP_ProtocolInfo a("http-get:*:video/mp4:*");
    EXPECT_TRUE(a.Match(UP_ProtocolInfo("http-get:*:video/mp4:DLNA.ORG_OP=01")));
    EXPECT_TRUE(UP_ProtocolInfo("*:*:*:*").Match(UP_ProtocolInfo("rtsp:x:y:DLNA.ORG_CI=0")));
    EXPECT_FALSE(a.Match(UP_ProtocolInfo("http-get:*:video/mpeg:*")));
}

TEST(ProtocolInfoTest, MimeTypes) {
    struct Row {
        const char* name;
        UP_DeviceSignature signature;
        const char* type;
    } rows[] = {
        {"clip.MOV", UP_SIGNATURE_XBOX, "video/quicktime"},
        {"clip.MOV", UP_SIGNATURE_PLAYSTATION3, "video/mp4"},
        {"clip.MOV", UP_SIGNATURE_UNKNOWN, "video/quicktime"}, // the runtime's table
        {"noextension", UP_SIGNATURE_UNKNOWN, "application/octet-stream"},
        {"/a.dir/noextension", UP_SIGNATURE_UNKNOWN, "application/octet-stream"},
        {"x.avi", UP_SIGNATURE_XBOX, "video/avi"},
        {"x.avi", UP_SIGNATURE_UNKNOWN, "video/x-msvideo"},
        {"x.l16", UP_SIGNATURE_XBOX, "audio/L16"},
        {"x.l16", UP_SIGNATURE_VLC, "audio/L16;rate=44100;channels=2"},
        {"x.wav", UP_SIGNATURE_SONOS, "audio/wav"},
        {"x.WAV", UP_SIGNATURE_UNKNOWN, "audio/wav"},
        {"x.mp3", UP_SIGNATURE_PLAYSTATION3, "audio/mpeg"},
        {"x.unknownext", UP_SIGNATURE_UNKNOWN, "application/octet-stream"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_STREQ(UP_ProtocolInfo::GetMimeType(row.name, row.signature).GetChars(), row.type);
    }
}

TEST(ProtocolInfoTest, DlnaExtensions) {
    struct Row {
        const char* type;
        UP_DeviceSignature signature;
        std::string extension;
    } rows[] = {
        {"image/jpeg", UP_SIGNATURE_UNKNOWN, "DLNA.ORG_PN=JPEG_LRG"},
        {"image/jpeg", UP_SIGNATURE_PLAYSTATION3, "DLNA.ORG_OP=01"},
        {"text/plain", UP_SIGNATURE_PLAYSTATION3, "DLNA.ORG_OP=01"},
        {"audio/wav", UP_SIGNATURE_SONOS, "*"},
        {"audio/mpeg", UP_SIGNATURE_SONOS,
         std::string("DLNA.ORG_PN=MP3;DLNA.ORG_OP=01;DLNA.ORG_CI=0;") + kFlags},
        {"text/plain", UP_SIGNATURE_UNKNOWN, "*"},
        {"AUDIO/MPEG", UP_SIGNATURE_XBOX, "DLNA.ORG_PN=MP3;DLNA.ORG_OP=01"},
        {"audio/mpeg", UP_SIGNATURE_WINDOWS_MEDIA_PLAYER, "DLNA.ORG_PN=MP3;DLNA.ORG_OP=01"},
        {"image/png", UP_SIGNATURE_XBOX, "DLNA.ORG_PN=PNG_LRG"}, // falls back to the default table
        {"video/x-flv", UP_SIGNATURE_UNKNOWN, "DLNA.ORG_OP=01;DLNA.ORG_CI=0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.type);
        EXPECT_EQ(UP_ProtocolInfo::GetDlnaExtension(row.type, row.signature).GetChars(), row.extension);
    }
}

TEST(ProtocolInfoTest, ForFileAndContexts) {
    UP_ProtocolInfo mp3 = UP_ProtocolInfo::ForFile("song.mp3", true, UP_SIGNATURE_UNKNOWN);
    ASSERT_TRUE(mp3.IsValid());
    EXPECT_STREQ(mp3.GetProtocol().GetChars(), "http-get");
    EXPECT_STREQ(mp3.GetMask().GetChars(), "*");
    EXPECT_STREQ(mp3.GetContentType().GetChars(), "audio/mpeg");
    EXPECT_EQ(Text(mp3),
              std::string("http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;DLNA.ORG_OP=01;DLNA.ORG_CI=0;") + kFlags);
    EXPECT_EQ(Text(UP_ProtocolInfo::ForFile("song.mp3", false, UP_SIGNATURE_UNKNOWN)),
              "http-get:*:audio/mpeg:*");

    // A null context and a context of another thread's request are the unknown client.
    EXPECT_STREQ(UP_ProtocolInfo::GetMimeType("clip.mov", nullptr).GetChars(), "video/quicktime");
    KL_HttpRequest request("/x", "GET", KL_HTTP_PROTOCOL_1_1);
    KL_HttpRequestContext plain;
    EXPECT_EQ(UP_ProtocolInfo::GetSignature(&plain), UP_SIGNATURE_UNKNOWN);
    UP_HttpRequestContext context(nullptr, nullptr, &request);
    EXPECT_EQ(UP_ProtocolInfo::GetSignature(&context), UP_HttpMessageHelper::GetDeviceSignature(request));
    EXPECT_EQ(UP_HttpRequestContext::From(&context), &context);
    EXPECT_EQ(UP_HttpRequestContext::From(&plain), nullptr);
}

// FLAC and Ogg have types of their own and, without a row of their own, no DLNA profile.
TEST(ProtocolInfoTest, FlacAndOggAreNotAnnouncedAsMp3) {
    const struct {
        const char* name;
        UP_DeviceSignature signature;
        const char* text;
    } rows[] = {
        {"a.flac", UP_SIGNATURE_UNKNOWN, "http-get:*:audio/x-flac:*"},
        {"a.FLAC", UP_SIGNATURE_XBOX, "http-get:*:audio/x-flac:*"},
        {"a.ogg", UP_SIGNATURE_UNKNOWN, "http-get:*:audio/ogg:*"},
        {"a.ogg", UP_SIGNATURE_PLAYSTATION3, "http-get:*:audio/ogg:DLNA.ORG_OP=01"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Text(UP_ProtocolInfo::ForFile(row.name, true, row.signature)), row.text);
    }
}

TEST(ProtocolInfoTest, EveryTableRowValidates) {
    for (const char* type : kMimeTypes) {
        for (int signature = UP_SIGNATURE_UNKNOWN; signature <= UP_SIGNATURE_VLC; ++signature) {
            KL_String extension = UP_ProtocolInfo::GetDlnaExtension(type, UP_DeviceSignature(signature));
            SCOPED_TRACE(std::string(type) + " " + extension.GetChars());
            UP_ProtocolInfo info = UP_ProtocolInfo::ForMimeType(type, true, UP_DeviceSignature(signature));
            EXPECT_TRUE(info.IsValid());
            // The canonical text of a table row is the row itself (minus a trailing ";").
            EXPECT_EQ(Text(info), std::string("http-get:*:") + type + ":" + extension.GetChars());
        }
    }
}

// GUPnP-AV's parser reads every text ForMimeType writes the same way: protocol, network, MIME
// type, profile, operation, conversion and flags.
TEST(ProtocolInfoTest, GupnpAvParsesForMimeTypeTextsAlike) {
    if (::access("/usr/bin/python3", X_OK) != 0 ||
        std::system("/usr/bin/python3 -c \"import gi; gi.require_version('GUPnPAV', '1.0'); "
                    "from gi.repository import GUPnPAV\" >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "GUPnP-AV for python3 is not installed (python3-gi, gir1.2-gupnp-av-1.0)";
    }
    char dir_template[] = "/tmp/protocolinfo-XXXXXX";
    ASSERT_NE(::mkdtemp(dir_template), nullptr);
    std::string dir = dir_template;
    std::ofstream cases(dir + "/cases.txt");
    int count = 0;
    for (const char* type : kMimeTypes) {
        for (int signature = UP_SIGNATURE_UNKNOWN; signature <= UP_SIGNATURE_VLC; ++signature) {
            for (bool with_dlna : {true, false}) {
                UP_ProtocolInfo info =
                    UP_ProtocolInfo::ForMimeType(type, with_dlna, UP_DeviceSignature(signature));
                cases << Text(info) << '\t' << info.GetProtocol().GetChars() << '\t'
                      << info.GetMask().GetChars() << '\t' << info.GetContentType().GetChars() << '\t'
                      << info.GetDlnaPn().GetChars() << '\t' << info.GetDlnaOp().GetChars() << '\t'
                      << info.GetDlnaCi().GetChars() << '\t' << info.GetDlnaFlags().GetChars() << '\n';
                ++count;
            }
        }
    }
    cases.close();
    std::ofstream script(dir + "/check.py");
    script << R"PY(import sys
import gi
gi.require_version('GUPnPAV', '1.0')
from gi.repository import GUPnPAV
bad = 0
for line in open(sys.argv[1], encoding='utf-8'):
    text, protocol, network, mime, pn, op, ci, flags = line.rstrip('\n').split('\t')
    p = GUPnPAV.ProtocolInfo.new_from_string(text)
    got = (p.get_protocol(), p.get_network(), p.get_mime_type(), p.get_dlna_profile() or '',
           int(p.get_dlna_operation()), int(p.get_dlna_conversion()), int(p.get_dlna_flags()))
    operation = (0x10 if op[:1] == '1' else 0) | (0x01 if op[1:2] == '1' else 0)
    want = (protocol, network, mime, pn, operation, int(ci) if ci else 0,
            int(flags[:8], 16) if flags else 0)
    if got != want:
        bad += 1
        print('differs:', text, got, want)
sys.exit(1 if bad else 0)
)PY";
    script.close();
    std::string command = "/usr/bin/python3 " + dir + "/check.py " + dir + "/cases.txt";
    int status = std::system(command.c_str());
    int removed = std::system(("rm -rf " + dir).c_str());
    (void)removed;
    EXPECT_GT(count, 400);
    EXPECT_EQ(status, 0);
}
