#include "AppSetting.h"
#include "TempHome.h"

#include <QSettings>

#include <gtest/gtest.h>

namespace lanyard {
namespace {

class AppSettingTest : public ::testing::Test {
protected:
    void SetUp() override {
        QSettings settings;
        settings.clear();
        settings.sync();
    }
};

TEST_F(AppSettingTest, AbsentKeysAndNoneRemovesTheKey) {
    EXPECT_EQ(AppSetting::getUserStrConfig("deviceName"), std::nullopt);
    EXPECT_EQ(AppSetting::getUserIntConfig("showFullPath"), 0);
    EXPECT_EQ(AppSetting::getUserLongConfig("big"), 0);
    EXPECT_EQ(AppSetting::getUserStrConfigWithDefault("deviceName", "Computer"), "Computer");
    EXPECT_EQ(AppSetting::getUserIntConfigWithDefault("showFullPath", 4), 4);
    EXPECT_EQ(AppSetting::getUserDictConfig("dict"), std::nullopt);
    EXPECT_EQ(AppSetting::getUserArrayConfig("list"), std::nullopt);
    // Storing none removes the key.
    ASSERT_TRUE(AppSetting::setUserStrConfig(std::string("x"), "gone"));
    ASSERT_TRUE(AppSetting::setUserStrConfig(std::nullopt, "gone"));
    EXPECT_EQ(AppSetting::getUserStrConfig("gone"), std::nullopt);
}

TEST_F(AppSettingTest, EmptyDeviceNameCountsAsNotSet) {
    ASSERT_TRUE(AppSetting::setUserStrConfig(std::string(), "deviceName"));
    EXPECT_EQ(AppSetting::getUserStrConfig("deviceName"), "");
    EXPECT_EQ(AppSetting::getUserStrConfigWithDefault("deviceName", "Computer"), "Computer");
    EXPECT_EQ(AppSetting::getUserIntConfigWithDefault("deviceName", 9), 9);
    ASSERT_TRUE(AppSetting::setUserStrConfig(std::string("Living room"), "deviceName"));
    EXPECT_EQ(AppSetting::getUserStrConfigWithDefault("deviceName", "Computer"), "Living room");
}

TEST_F(AppSettingTest, NumbersAreTheLeadingDigits) {
    ASSERT_TRUE(AppSetting::setUserStrConfig(std::string("12abc"), "key_selectPathID"));
    EXPECT_EQ(AppSetting::getUserIntConfig("key_selectPathID"), 12);
    EXPECT_EQ(AppSetting::getUserIntConfigWithDefault("key_selectPathID", 3), 12);
    ASSERT_TRUE(AppSetting::setUserStrConfig(std::string("abc"), "key_selectPathID"));
    EXPECT_EQ(AppSetting::getUserIntConfig("key_selectPathID"), 0);
}

TEST_F(AppSettingTest, IntegersAreStoredAsTextAndAddedTo) {
    ASSERT_TRUE(AppSetting::setUserIntConfig(-3, "n"));
    EXPECT_EQ(AppSetting::getUserStrConfig("n"), "-3");
    ASSERT_TRUE(AppSetting::setUserLongConfig(1099511627776LL, "big"));
    EXPECT_EQ(AppSetting::getUserStrConfig("big"), "1099511627776");
    EXPECT_EQ(AppSetting::getUserLongConfig("big"), 1099511627776LL);
    // Another reader of the settings file sees the same text.
    QSettings other;
    EXPECT_EQ(other.value("big").toString(), QString("1099511627776"));
    // Adding to an absent key stores the delta.
    ASSERT_TRUE(AppSetting::addUserIntConfig(5, "count"));
    EXPECT_EQ(AppSetting::getUserStrConfig("count"), "5");
    ASSERT_TRUE(AppSetting::addUserIntConfig(-7, "count"));
    EXPECT_EQ(AppSetting::getUserIntConfig("count"), -2);
    ASSERT_TRUE(AppSetting::addUserLongConfig(4000000000LL, "total"));
    ASSERT_TRUE(AppSetting::addUserLongConfig(4000000000LL, "total"));
    EXPECT_EQ(AppSetting::getUserStrConfig("total"), "8000000000");
}

TEST_F(AppSettingTest, RegisteredDefaultsAnswerForAbsentKeys) {
    AppSetting::registerDefaults({{"registeredOnly", QString("1")}});
    EXPECT_EQ(AppSetting::getUserIntConfig("registeredOnly"), 1);
    ASSERT_TRUE(AppSetting::setUserIntConfig(0, "registeredOnly"));
    EXPECT_EQ(AppSetting::getUserIntConfig("registeredOnly"), 0);
    // Defaults are not written to the settings file.
    QSettings other;
    EXPECT_EQ(other.value("registeredOnly").toString(), QString("0"));
}

TEST_F(AppSettingTest, DictionaryAndArrayRoundTrip) {
    const QVariantMap dict{{"a", QString("1")}, {"b", QString("two")}};
    const QVariantList list{QString("x"), QString("y")};
    ASSERT_TRUE(AppSetting::setUserDictConfig(dict, "dict"));
    ASSERT_TRUE(AppSetting::setUserArryConfig(list, "list"));
    EXPECT_EQ(AppSetting::getUserDictConfig("dict"), dict);
    EXPECT_EQ(AppSetting::getUserArrayConfig("list"), list);
    EXPECT_EQ(AppSetting::getUserDictConfig("list"), std::nullopt);
}

TEST_F(AppSettingTest, GroupStoreIsSeparateFromTheUserStore) {
    ASSERT_TRUE(AppSetting::setShareIntConfig(4, "shared", "group.org.lanyard.test"));
    ASSERT_TRUE(AppSetting::setShareStrConfig(std::string("9lives"), "text", "group.org.lanyard.test"));
    EXPECT_EQ(AppSetting::getShareIntConfig("shared", "group.org.lanyard.test"), 4);
    EXPECT_EQ(AppSetting::getShareIntConfig("text", "group.org.lanyard.test"), 9);
    EXPECT_EQ(AppSetting::getShareStrConfig("absent", "group.org.lanyard.test"), std::nullopt);
    EXPECT_EQ(AppSetting::getShareIntConfig("shared", "group.other"), 0);
    EXPECT_EQ(AppSetting::getUserStrConfig("shared"), std::nullopt);
    QSettings suite("group.org.lanyard.test");
    EXPECT_EQ(suite.value("shared").toString(), QString("4"));
}

} // namespace
} // namespace lanyard
