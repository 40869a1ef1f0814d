#include "foundation/MimeTypes.h"

#include <gtest/gtest.h>

#include <cstring>

using platform::mimeTypeForExtension;

TEST(MimeTypes, CommonMediaAndDocumentTypes) {
    const std::pair<const char*, const char*> expected[] = {
        {"mp3", "audio/mpeg"},
        {"m4a", "audio/mp4"},
        {"flac", "audio/flac"},
        {"ogg", "audio/ogg"},
        {"mp4", "video/mp4"},
        {"m4v", "video/mp4"},
        {"mkv", "video/x-matroska"},
        {"avi", "video/x-msvideo"},
        {"mov", "video/quicktime"},
        {"webm", "video/webm"},
        {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},
        {"png", "image/png"},
        {"gif", "image/gif"},
        {"webp", "image/webp"},
        {"heic", "image/heic"},
        {"svg", "image/svg+xml"},
        {"pdf", "application/pdf"},
        {"txt", "text/plain"},
        {"html", "text/html"},
        {"json", "application/json"},
        {"xml", "application/xml"},
        {"zip", "application/zip"},
        {"doc", "application/msword"},
        {"xls", "application/vnd.ms-excel"},
        {"ppt", "application/vnd.ms-powerpoint"},
        {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
        {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
        {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
    };
    for (const auto& [extension, type] : expected) {
        EXPECT_EQ(mimeTypeForExtension(extension), std::optional<std::string>(type)) << extension;
    }
    EXPECT_TRUE(mimeTypeForExtension("wav"));
    EXPECT_EQ(mimeTypeForExtension("wav")->rfind("audio/", 0), 0u);
    EXPECT_TRUE(mimeTypeForExtension("srt"));
}

TEST(MimeTypes, WebAndMediaOverrides) {
    EXPECT_EQ(mimeTypeForExtension("css"), "text/css");
    EXPECT_EQ(mimeTypeForExtension("js"), "text/javascript");
    EXPECT_EQ(mimeTypeForExtension("mjs"), "text/javascript");
    EXPECT_EQ(mimeTypeForExtension("ts"), "video/mp2t");
    EXPECT_EQ(mimeTypeForExtension("m2ts"), "video/mp2t");
    EXPECT_EQ(mimeTypeForExtension("3gp"), "video/3gpp");
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
