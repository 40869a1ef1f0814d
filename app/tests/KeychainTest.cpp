// GLib's headers come before Qt's: Qt defines "signals" as a macro.
#include <libsecret/secret.h>

#include "AppSetting.h"
#include "KKKeychain.h"

#include <foundation/MainBundle.h>

#include <gtest/gtest.h>

#include <cstdlib>

namespace lanyard {
namespace {

// Runs against a private Secret Service (keychain_session.sh starts one in its own D-Bus session);
// items go to the "session" collection, which needs no unlocking.
class KeychainTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("LANYARD_PRIVATE_KEYRING")) {
            GTEST_SKIP() << "needs the private keyring session of keychain_session.sh";
        }
        platform::MainBundle::setInfo({.identifier = std::string("org.lanyard.Tests")});
        KKKeychain::setCollection(SECRET_COLLECTION_SESSION);
    }

    void TearDown() override { platform::MainBundle::setInfo({}); }

    // The number of items with the given attributes, looked up without KKKeychain.
    static int itemCount(const std::string& account) {
        GError* error = nullptr;
        GHashTable* attributes = g_hash_table_new(g_str_hash, g_str_equal);
        g_hash_table_insert(attributes, const_cast<char*>("service"), const_cast<char*>("service"));
        g_hash_table_insert(attributes, const_cast<char*>("account"), const_cast<char*>(account.c_str()));
        SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &error);
        EXPECT_NE(service, nullptr);
        GList* items = service ? secret_service_search_sync(service, nullptr, attributes, SECRET_SEARCH_ALL,
                                                            nullptr, &error)
                               : nullptr;
        if (error) {
            ADD_FAILURE() << error->message;
            g_error_free(error);
        }
        const int count = static_cast<int>(g_list_length(items));
        g_list_free_full(items, g_object_unref);
        g_hash_table_unref(attributes);
        if (service) {
            g_object_unref(service);
        }
        return count;
    }
};

TEST_F(KeychainTest, IdentifierComesFromTheMainBundle) {
    EXPECT_EQ(KKKeychain::appIdentifier(), "org.lanyard.Tests");
    platform::MainBundle::setInfo({});
    EXPECT_EQ(KKKeychain::appIdentifier(), "Marlowen");
    EXPECT_EQ(KKKeychain::appName(), "Marlowen");
    platform::MainBundle::setInfo({.name = std::string("Lanyard")});
    EXPECT_EQ(KKKeychain::appName(), "Lanyard");
}

TEST_F(KeychainTest, TextRoundTripsAndIsReplacedInPlaceAndNoneIsRefused) {
    EXPECT_EQ(AppSetting::getStrConfig("token"), std::nullopt);
    ASSERT_TRUE(AppSetting::setStrConfig(std::string("s3cr\xC3\xA9t"), "token"));
    EXPECT_EQ(AppSetting::getStrConfig("token"), "s3cr\xC3\xA9t");
    ASSERT_TRUE(AppSetting::setStrConfig(std::string("second"), "token"));
    EXPECT_EQ(KKKeychain::getStringForKey("token"), "second");
    EXPECT_EQ(itemCount("org.lanyard.Tests - token"), 1);
    EXPECT_FALSE(KKKeychain::setString(std::nullopt, std::string("k")));
    EXPECT_FALSE(KKKeychain::setString(std::string("v"), std::nullopt));
    EXPECT_EQ(KKKeychain::getStringForKey("k"), std::nullopt);
}

TEST_F(KeychainTest, ItemsAreKeyedByApplicationIdentifier) {
    ASSERT_TRUE(KKKeychain::setString(std::string("mine"), std::string("shared")));
    platform::MainBundle::setInfo({.identifier = std::string("org.other.App")});
    EXPECT_EQ(KKKeychain::getStringForKey("shared"), std::nullopt);
    ASSERT_TRUE(KKKeychain::setString(std::string("theirs"), std::string("shared")));
    platform::MainBundle::setInfo({.identifier = std::string("org.lanyard.Tests")});
    EXPECT_EQ(KKKeychain::getStringForKey("shared"), "mine");
    EXPECT_EQ(itemCount("org.lanyard.Tests - shared"), 1);
    EXPECT_EQ(itemCount("org.other.App - shared"), 1);
}

TEST_F(KeychainTest, IntegersAreText) {
    EXPECT_EQ(AppSetting::getIntConfig("launches"), 0);
    ASSERT_TRUE(AppSetting::addIntConfig(3, "launches"));
    ASSERT_TRUE(AppSetting::addIntConfig(4, "launches"));
    EXPECT_EQ(AppSetting::getStrConfig("launches"), "7");
    ASSERT_TRUE(AppSetting::setLongConfig(-5000000000LL, "big"));
    EXPECT_EQ(AppSetting::getLongConfig("big"), -5000000000LL);
    ASSERT_TRUE(AppSetting::setIntConfig(12, "small"));
    EXPECT_EQ(AppSetting::getIntConfig("small"), 12);
}

} // namespace
} // namespace lanyard
