#include "foundation/MimeTypes.h"

#include <gtest/gtest.h>

#include <cstring>

using platform::mimeTypeForExtension;

TEST(MimeTypes, CommonMediaDocumentAndWebTypes) {
    // Each text is an extension, a space and its type.
    for (const std::string line :
         {"mp3 audio/mpeg", "m4a audio/mp4", "flac audio/flac", "ogg audio/ogg", "mp4 video/mp4",
          "m4v video/mp4", "mkv video/x-matroska", "avi video/x-msvideo", "mov video/quicktime",
          "webm video/webm", "jpg image/jpeg", "jpeg image/jpeg", "png image/png", "gif image/gif",
          "webp image/webp", "heic image/heic", "svg image/svg+xml", "pdf application/pdf", "txt text/plain",
          "html text/html", "json application/json", "xml application/xml", "zip application/zip",
          "doc application/msword", "xls application/vnd.ms-excel", "ppt application/vnd.ms-powerpoint",
          "docx application/vnd.openxmlformats-officedocument.wordprocessingml.document",
          "xlsx application/vnd.openxmlformats-officedocument.spreadsheetml.sheet",
          "pptx application/vnd.openxmlformats-officedocument.presentationml.presentation",
          // where the web and media players disagree with the general list
          "css text/css", "js text/javascript", "mjs text/javascript", "ts video/mp2t", "m2ts video/mp2t",
          "3gp video/3gpp"}) {
        const auto space = line.find(' ');
        EXPECT_EQ(mimeTypeForExtension(line.substr(0, space)), line.substr(space + 1)) << line;
    }
    EXPECT_EQ(mimeTypeForExtension("wav").value_or("").rfind("audio/", 0), 0u);
    EXPECT_TRUE(mimeTypeForExtension("srt"));
}

TEST(MimeTypes, AnyCaseAndUnknownExtensions) {
    EXPECT_EQ(mimeTypeForExtension("PNG"), "image/png");
    EXPECT_EQ(mimeTypeForExtension("Mp3"), "audio/mpeg");
    EXPECT_EQ(mimeTypeForExtension(""), std::nullopt);
    EXPECT_EQ(mimeTypeForExtension("nosuchextension"), std::nullopt);
    EXPECT_EQ(mimeTypeForExtension(".png"), std::nullopt); // extensions come without the dot
    EXPECT_EQ(mimeTypeForExtension(std::string("png\0x", 5)), std::nullopt);
}

TEST(MimeTypes, TableIsSortedUniqueAndLowerCase) {
    const auto table = platform::mimeTypeTable();
    ASSERT_GT(table.size(), 1000u);
    for (std::size_t i = 0; i < table.size(); ++i) {
        const std::string extension = table[i].extension;
        EXPECT_FALSE(extension.empty());
        EXPECT_EQ(extension.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), std::string::npos) << extension;
        EXPECT_NE(std::strchr(table[i].type, '/'), nullptr) << extension;
        if (i > 0) {
            EXPECT_LT(std::strcmp(table[i - 1].extension, table[i].extension), 0) << extension;
        }
    }
}
