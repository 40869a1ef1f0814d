// The web file manager's listing on a file system whose names are bytes: a name that is not
// UTF-8 text cannot be sent as JSON, and must not cost the listing of its folder.

#include "UploaderTestSupport.h"

#include "foundation/Json.h"

using namespace uploadertest;

namespace {

// The names of a listing, in the order sent.
std::vector<std::string> namesOf(const Reply& reply) {
    std::vector<std::string> names;
    const auto json = platform::parseJson(reply.body);
    if (!json || !json->is_array()) {
        ADD_FAILURE() << "not a JSON array: " << reply.body;
        return names;
    }
    for (const auto& item : *json) {
        names.push_back(item["name"].get<std::string>());
    }
    return names;
}

using UploaderConformance = UploaderTest;

} // namespace

TEST_F(UploaderConformance, NamesThatAreNotUTF8AreLeftOutOfTheListing) {
    const std::string latin1 = "caf\xE9.txt"; // "café.txt" written in ISO Latin-1
    ASSERT_TRUE(writeFile(share(latin1), "bytes"));
    ASSERT_TRUE(makeDirectory(share("dossier \xE9t\xE9")));
    ASSERT_TRUE(writeFile(share("caf\xC3\xA9.txt"), "text"));
    ASSERT_TRUE(makeDirectory(share("sub")));
    ASSERT_TRUE(writeFile(share("sub/\xFF"), "x"));
    ASSERT_TRUE(writeFile(share("sub/ok.txt"), "x"));

    const Reply root = get("/list?path=/");
    EXPECT_EQ(root.status, 200) << root.body;
    EXPECT_EQ(namesOf(root), (std::vector<std::string>{"caf\xC3\xA9.txt", "sub"}));
    const Reply sub = get("/list?path=/sub");
    EXPECT_EQ(sub.status, 200) << sub.body;
    EXPECT_EQ(namesOf(sub), std::vector<std::string>{"ok.txt"});
    // Nothing was touched on disk.
    EXPECT_EQ(readFile(share(latin1)), "bytes");
}
