#pragma once

#include <QVariantList>
#include <QVariantMap>

#include <cstdint>
#include <optional>
#include <string>

namespace lanyard {

// The application's persistent settings. Three stores of the same shape, all holding text (integers
// as decimal text, read back by their leading digits):
// - the user store: QSettings of the application (organisation and application names);
// - the keychain store: the user's keyring through KKKeychain;
// - the group store: the settings of the suite named by the group (~/.config/<group>.conf).
// Writes to the user and group stores report whether the settings file could be written.
class AppSetting {
public:
    // User store.
    static std::optional<std::string> getUserStrConfig(const std::string& key);
    // Stores the text; none removes the key.
    static bool setUserStrConfig(const std::optional<std::string>& value, const std::string& key);
    static std::int32_t getUserIntConfig(const std::string& key);
    static bool setUserIntConfig(std::int32_t value, const std::string& key);
    static bool addUserIntConfig(std::int32_t delta, const std::string& key);
    static std::int64_t getUserLongConfig(const std::string& key);
    static bool setUserLongConfig(std::int64_t value, const std::string& key);
    static bool addUserLongConfig(std::int64_t delta, const std::string& key);
    // The stored text when present and not empty, else the default.
    static std::string getUserStrConfigWithDefault(const std::string& key, const std::string& def);
    static std::int32_t getUserIntConfigWithDefault(const std::string& key, std::int32_t def);
    static std::optional<QVariantMap> getUserDictConfig(const std::string& key);
    static std::optional<QVariantList> getUserArrayConfig(const std::string& key);
    static bool setUserDictConfig(const QVariantMap& value, const std::string& key);
    static bool setUserArryConfig(const QVariantList& value, const std::string& key);
    // Values the user store answers for keys it does not hold (kept for this process only).
    static void registerDefaults(const QVariantMap& defaults);

    // Keychain store.
    static std::optional<std::string> getStrConfig(const std::string& key);
    static bool setStrConfig(const std::optional<std::string>& value, const std::string& key);
    static std::int32_t getIntConfig(const std::string& key);
    static std::int64_t getLongConfig(const std::string& key);
    static bool setIntConfig(std::int32_t value, const std::string& key);
    static bool setLongConfig(std::int64_t value, const std::string& key);
    static bool addIntConfig(std::int32_t delta, const std::string& key);

    // Group store.
    static std::optional<std::string> getShareStrConfig(const std::string& key, const std::string& group);
    static bool setShareStrConfig(const std::optional<std::string>& value, const std::string& key,
                                  const std::string& group);
    static std::int32_t getShareIntConfig(const std::string& key, const std::string& group);
    static bool setShareIntConfig(std::int32_t value, const std::string& key, const std::string& group);
};

} // namespace lanyard
