#include "UP_Didl.h"
#include "UP_MediaContainer.h"
#include "UP_MediaItem.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

std::string ReadData(const char* name) {
    std::ifstream in(std::string(UPNP_TEST_DATA_DIR) + "/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string content = text.str();
    while (!content.empty() && content.back() == '\n') {
        content.pop_back();
    }
    return content;
}

std::string Escaped(const char* text) {
    KL_String out;
    UP_Didl::AppendEscapedXml(out, text);
    return out.GetChars();
}

std::string Write(UP_MediaObject& object, const char* filter) {
    KL_String didl;
    EXPECT_EQ(KL_SUCCESS, UP_Didl::ToDidl(object, filter, didl));
    return didl.GetChars();
}

std::string Framed(const std::string& fragment) {
    return UP_DIDL_HEADER + fragment + UP_DIDL_FOOTER;
}

UP_MediaResource Resource(const char* uri, const char* protocol_info) {
    UP_MediaResource res;
    res.m_Uri = uri;
    res.m_ProtocolInfo = UP_ProtocolInfo(protocol_info);
    return res;
}

// An item with every field the writer knows set.
void FillItem(UP_MediaItem& item) {
    item.m_ObjectId = "0/Music/A & B.mp3";
    item.m_ParentId = "0/Music";
    item.m_ReferenceId = "0/Other/A & B.mp3";
    item.m_Title = "A & B";
    item.m_Creator = "Creator";
    item.m_Date = "2024-03-01T10:20:30Z";
    (void)item.m_Artists.Add("Artist", "Performer");
    (void)item.m_Artists.Add("Second");
    (void)item.m_Actors.Add("Actor");
    (void)item.m_Authors.Add("Author", "Composer");
    (void)item.m_Genres.Add(KL_String("Rock"));
    item.m_Album = "Album";
    (void)item.m_AlbumArts.Add(UP_AlbumArtInfo{"http://10.0.0.1:80/art.jpg", "JPEG_TN"});
    item.m_Description = "Description";
    item.m_LongDescription = "Long description";
    item.m_IconUri = "http://10.0.0.1:80/icon.png";
    item.m_OriginalTrackNumber = 7;
    item.m_ProgramTitle = "Program";
    item.m_SeriesTitle = "Series";
    item.m_EpisodeNumber = 3;
    item.m_Toc = "TOC";
    item.m_ClassType = "object.item.audioItem.musicTrack";
    item.m_ClassFriendlyName = "Track";
    UP_MediaResource res = Resource("http://10.0.0.1:80/%25/Music/A%20%26%20B.mp3?x=1&y=2",
                                    "http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;DLNA.ORG_OP=01;DLNA.ORG_CI=0;"
                                    "DLNA.ORG_FLAGS=01500000000000000000000000000000");
    res.m_Duration = 3725;
    res.m_Size = 5000000000ull;
    res.m_Protection = "none";
    res.m_Resolution = "640x480";
    res.m_Bitrate = 16000;
    res.m_BitsPerSample = 16;
    res.m_SampleFrequency = 44100;
    res.m_NbAudioChannels = 2;
    (void)item.AddResource(res);
}

void FillContainer(UP_MediaContainer& container) {
    container.m_ObjectId = "0/Music";
    container.m_ParentId = "0";
    container.m_Title = "Music";
    container.m_ClassType = "object.container.storageFolder";
    container.m_Searchable = true;
    container.m_ChildCount = 12;
    container.m_Restricted = false;
    (void)container.m_SearchClasses.Add(UP_SearchClass{"object.item.audioItem", "Audio", true});
    (void)container.m_SearchClasses.Add(UP_SearchClass{"object.item.videoItem", "", false});
}

TEST(Didl, FilterToMask) {
    const struct {
        const char* filter;
        uint32_t mask;
    } cases[] = {
        {nullptr, 0xFFFFFFFF},
        {"", 0xFFFFFFFF},
        {"*", 0xFFFFFFFF},
        {"dc:title,*", 0xFFFFFFFF},
        {" *", 0xFFFFFFFF},
        {"dc:title", 0x8000},
        {"dc", 0x8000},
        {"unknown", 0x8000},
        {"res@size", 0x58000},
        {"dc:creator,", 0x8001},
        {"@childCount", 0x8080},
        {"upnp:albumArtURI", 0x8010},
        {"upnp:albumArtURI@dlna:profileID", 0x8010},
        {"upnp:album", 0x8004},
        {"dc:title, res", 0x18000},
        {" dc:creator ,\tres@duration ", 0x38001},
        {"RES@SIZE", 0x58000},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.mask, UP_Didl::FilterToMask(c.filter)) << (c.filter ? c.filter : "null");
    }
}

TEST(Didl, GoldenItemAndContainer) {
    UP_MediaItem item;
    FillItem(item);
    EXPECT_EQ(ReadData("didl-item.golden"), Write(item, "*"));
    UP_MediaContainer container;
    FillContainer(container);
    EXPECT_EQ(ReadData("didl-container.golden"), Write(container, "*"));
}

TEST(Didl, UnknownCreatorAndGenreAreKept) {
    UP_MediaItem item;
    item.m_Title = "t";
    std::string didl = Write(item, "dc:creator,upnp:genre");
    EXPECT_NE(std::string::npos,
              didl.find("<dc:creator>Unknown</dc:creator><upnp:genre>Unknown</upnp:genre>"));
    EXPECT_STREQ("Unknown", item.m_Creator.GetChars());
    ASSERT_EQ(1u, item.m_Genres.GetItemCount());
    EXPECT_STREQ("Unknown", item.m_Genres.GetFirstItem()->GetChars());
}

TEST(Didl, UnknownSizeAndDurationWriteOnlyProtocolInfo) {
    UP_MediaItem item;
    (void)item.AddResource(Resource("http://h:1/a", "http-get:*:video/mp4:*"));
    EXPECT_NE(std::string::npos,
              Write(item, "*").find("<res protocolInfo=\"http-get:*:video/mp4:*\">http://h:1/a</res>"));
}

TEST(Didl, FilterLeavesOutProperties) {
    UP_MediaItem item;
    FillItem(item);
    EXPECT_EQ("<item id=\"0/Music/A &amp; B.mp3\" parentID=\"0/Music\" restricted=\"1\"><dc:title>A &amp; "
              "B</dc:title><upnp:class name=\"Track\">object.item.audioItem.musicTrack</upnp:class></item>",
              Write(item, "dc:title"));
    std::string didl = Write(item, "dc:title, res@size");
    EXPECT_NE(std::string::npos, didl.find("<res size=\"5000000000\" protocolInfo="));
    UP_MediaContainer container;
    container.m_ChildCount = UP_MEDIA_CONTAINER_UNKNOWN_CHILD_COUNT;
    container.m_Searchable = false;
    EXPECT_EQ("<container id=\"\" parentID=\"\" restricted=\"1\" searchable=\"0\"><dc:title></dc:title>"
              "<upnp:class></upnp:class></container>",
              Write(container, "@childCount,@searchable"));
}

TEST(Didl, TimeTexts) {
    const struct {
        uint32_t seconds;
        const char* text;
    } cases[] = {{0, "0:00:00.000"}, {59, "0:00:59.000"}, {3725, "1:02:05.000"}, {36000, "10:00:00.000"}};
    for (const auto& c : cases) {
        EXPECT_STREQ(c.text, UP_Didl::FormatTimeText(c.seconds).GetChars());
        uint32_t seconds = 1;
        EXPECT_EQ(KL_SUCCESS, UP_Didl::ParseTimeStamp(c.text, seconds));
        EXPECT_EQ(c.seconds, seconds);
    }
    uint32_t seconds = 0;
    EXPECT_EQ(KL_SUCCESS, UP_Didl::ParseTimeStamp("1:02:05.500", seconds));
    EXPECT_EQ(3725u, seconds);
    EXPECT_EQ(KL_FAILURE, UP_Didl::ParseTimeStamp("3725", seconds));
    EXPECT_EQ(KL_FAILURE, UP_Didl::ParseTimeStamp("02:05", seconds));
    EXPECT_TRUE(KL_FAILED(UP_Didl::ParseTimeStamp("1:xx:05", seconds)));
    EXPECT_TRUE(KL_FAILED(UP_Didl::ParseTimeStamp("4294967295:00:00", seconds)));
}

TEST(Didl, EscapedText) {
    const struct {
        const char* text;
        const char* escaped;
    } cases[] = {
        {"a<b&c", "a&lt;b&amp;c"},
        {"\"'>", "&quot;&apos;&gt;"},
        {"a\tb\nc\rd", "a&#9;b&#10;c&#13;d"},
        {"\x01x\x1F", "\xEF\xBF\xBDx\xEF\xBF\xBD"},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5"},
        {"a\xFF"
         "b",
         "a\xEF\xBF\xBD"
         "b"},
        {"a\xC0\xAF", "a\xEF\xBF\xBD\xEF\xBF\xBD"},                 // overlong
        {"a\xED\xA0\x80", "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"}, // surrogate
        {"a\xE2\x82", "a\xEF\xBF\xBD"},                             // cut short
        {"\xEF\xBF\xBE", "\xEF\xBF\xBD"},                           // U+FFFE
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.escaped, Escaped(c.text)) << c.text;
    }
    KL_String out;
    UP_Didl::AppendEscapedXml(out, nullptr);
    UP_Didl::AppendEscapedXml(out, KL_String("a\xFF\x62"));
    EXPECT_STREQ("a\xEF\xBF\xBD\x62", out.GetChars());
    out = "";
    UP_Didl::AppendUnescapedXml(out, "&lt;a&amp;b&gt;&quot;&apos;&AMP;&x");
    EXPECT_STREQ("<a&b>\"'&AMP;&x", out.GetChars());
}

TEST(Didl, TitleIsEscaped) {
    UP_MediaItem item;
    item.m_Title = "a<b&c";
    EXPECT_NE(std::string::npos, Write(item, "dc:title").find("<dc:title>a&lt;b&amp;c</dc:title>"));
}

TEST(Didl, ClassForFile) {
    const struct {
        const char* name;
        const char* type;
    } cases[] = {{"a.mp3", "object.item.audioItem.musicTrack"},
                 {"a.MP4", "object.item.videoItem"},
                 {"a.jpg", "object.item.imageItem.photo"},
                 {"a.txt", "object.item"},
                 {"noext", "object.item"}};
    for (const auto& c : cases) {
        EXPECT_STREQ(c.type, UP_MediaObject::ClassForFile(c.name, nullptr).GetChars()) << c.name;
    }
}

TEST(Didl, FromDidlGivesWrittenObjectsBack) {
    UP_MediaItem item;
    FillItem(item);
    UP_MediaContainer container;
    FillContainer(container);
    std::string fragments = Write(container, "*") + Write(item, "*");
    UP_MediaObjectListReference list;
    ASSERT_EQ(KL_SUCCESS, UP_Didl::FromDidl(Framed(fragments).c_str(), list));
    ASSERT_FALSE(list.IsNull());
    ASSERT_EQ(2u, list->GetItemCount());
    UP_MediaObject* first = *list->GetFirstItem();
    UP_MediaObject* second = *list->GetItem(1);
    ASSERT_TRUE(first->IsContainer());
    ASSERT_FALSE(second->IsContainer());
    EXPECT_EQ(fragments, Write(*first, "*") + Write(*second, "*"));
    EXPECT_EQ(Framed(Write(item, "*")), second->m_Didl.GetChars());
}

TEST(Didl, FromDidlRefusesWhatIsNotDidl) {
    UP_MediaObjectListReference list;
    for (const char* text : {"", "<a/>", "<DIDL-Lite", "text"}) {
        list = UP_MediaObjectListReference(new UP_MediaObjectList());
        EXPECT_EQ(KL_FAILURE, UP_Didl::FromDidl(text, list)) << text;
        EXPECT_TRUE(list.IsNull());
    }
    // Unknown tags, items without a usable res and objects without id or title are left out.
    std::string body =
        "<other/>"
        "<item id=\"1\" parentID=\"0\" restricted=\"1\"><dc:title>no res</dc:title>"
        "<upnp:class>object.item</upnp:class></item>"
        "<item id=\"2\" parentID=\"0\"><dc:title>bad res</dc:title><upnp:class>object.item"
        "</upnp:class><res protocolInfo=\"a:b\">http://h/a</res><res>http://h/b</res></item>"
        "<container parentID=\"0\"><dc:title>no id</dc:title><upnp:class>c</upnp:class></container>"
        "<container id=\"4\" parentID=\"0\" childCount=\"x\"><dc:title>t</dc:title>"
        "<upnp:class>c</upnp:class></container>"
        "<item id=\"5\" parentID=\"0\"><dc:title>ok</dc:title><upnp:class>object.item</upnp:class>"
        "<res protocolInfo=\"http-get:*:audio/mpeg:*\" duration=\"bad\">http://h/c</res></item>";
    ASSERT_EQ(KL_SUCCESS, UP_Didl::FromDidl(Framed(body).c_str(), list));
    ASSERT_EQ(1u, list->GetItemCount());
    UP_MediaObject* object = *list->GetFirstItem();
    EXPECT_STREQ("5", object->m_ObjectId.GetChars());
    EXPECT_EQ(UP_MEDIA_RESOURCE_UNKNOWN, object->m_Resources[0].m_Duration);
    EXPECT_EQ(std::string::npos, std::string(object->m_Didl.GetChars()).find("duration"));
}

TEST(Didl, FromDidlOfEveryCutDocument) {
    std::string didl = Framed(ReadData("didl-container.golden") + ReadData("didl-item.golden"));
    for (size_t length = 0; length < didl.size(); ++length) {
        UP_MediaObjectListReference list;
        KL_Result result = UP_Didl::FromDidl(didl.substr(0, length).c_str(), list);
        EXPECT_EQ(KL_FAILED(result), list.IsNull()) << length;
    }
    UP_MediaObjectListReference list;
    ASSERT_EQ(KL_SUCCESS, UP_Didl::FromDidl(didl.c_str(), list));
    EXPECT_EQ(2u, list->GetItemCount());
}

TEST(Didl, OutputPassesXmllint) {
    if (std::system("command -v xmllint >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "xmllint not installed";
    }
    UP_MediaItem item;
    FillItem(item);
    item.m_Title = "\x01 bad \xFF\xFE name \x1F <&> \"'\t\r\n \xED\xA0\x80";
    item.m_ObjectId = item.m_Title;
    item.m_ClassFriendlyName = "<raw & \"name\">";
    UP_MediaContainer container;
    FillContainer(container);
    container.m_SearchClasses.GetFirstItem()->m_FriendlyName = "a\"<&\x02";
    std::string didl = Framed(Write(container, "*") + Write(item, "*"));
    char path[] = "/tmp/didl-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ssize_t(didl.size()), write(fd, didl.data(), didl.size()));
    close(fd);
    EXPECT_EQ(0, std::system(("xmllint --noout " + std::string(path)).c_str())) << didl;
    unlink(path);
    UP_MediaObjectListReference list;
    ASSERT_EQ(KL_SUCCESS, UP_Didl::FromDidl(didl.c_str(), list));
    ASSERT_EQ(2u, list->GetItemCount());
    // The id comes back exactly as written (tab, CR and LF included).
    KL_String expected_id;
    UP_Didl::AppendEscapedXml(expected_id, item.m_ObjectId);
    KL_String read_id;
    UP_Didl::AppendEscapedXml(read_id, (*list->GetItem(1))->m_ObjectId);
    EXPECT_STREQ(expected_id.GetChars(), read_id.GetChars());
}

} // namespace
