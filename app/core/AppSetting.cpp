#include "AppSetting.h"

#include "AppText.h"
#include "KKKeychain.h"

#include <QSettings>

#include <mutex>

namespace lanyard {

namespace {

std::mutex& defaultsMutex() {
    static std::mutex mutex;
    return mutex;
}

QVariantMap& registeredDefaults() {
    static QVariantMap defaults;
    return defaults;
}

QString qkey(const std::string& key) {
    return QString::fromStdString(key);
}

// The suite's settings; the application's own for an empty group name.
std::unique_ptr<QSettings> groupSettings(const std::string& group) {
    if (group.empty()) {
        return std::make_unique<QSettings>();
    }
    return std::make_unique<QSettings>(QString::fromStdString(group));
}

QVariant storedValue(QSettings& settings, const std::string& key) {
    const QString name = qkey(key);
    if (settings.contains(name)) {
        return settings.value(name);
    }
    std::lock_guard lock(defaultsMutex());
    return registeredDefaults().value(name);
}

std::optional<std::string> textOf(const QVariant& value) {
    if (!value.isValid()) {
        return std::nullopt;
    }
    return value.toString().toStdString();
}

bool store(QSettings& settings, const std::string& key, const std::optional<QVariant>& value) {
    if (value) {
        settings.setValue(qkey(key), *value);
    } else {
        settings.remove(qkey(key));
    }
    settings.sync();
    return settings.status() == QSettings::NoError;
}

std::optional<QVariant> textVariant(const std::optional<std::string>& value) {
    if (!value) {
        return std::nullopt;
    }
    return QVariant(QString::fromStdString(*value));
}

std::string int32Text(std::int32_t value) {
    return std::to_string(value);
}
std::string int64Text(std::int64_t value) {
    return std::to_string(value);
}

// Sums as the stored integer types do, wrapping rather than overflowing.
std::int32_t wrappingAdd(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
std::int64_t wrappingAdd(std::int64_t a, std::int64_t b) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}

} // namespace

std::optional<std::string> AppSetting::getUserStrConfig(const std::string& key) {
    QSettings settings;
    return textOf(storedValue(settings, key));
}

bool AppSetting::setUserStrConfig(const std::optional<std::string>& value, const std::string& key) {
    QSettings settings;
    return store(settings, key, textVariant(value));
}

std::int32_t AppSetting::getUserIntConfig(const std::string& key) {
    return intValueOfText(getUserStrConfig(key).value_or(std::string()));
}

bool AppSetting::setUserIntConfig(std::int32_t value, const std::string& key) {
    return setUserStrConfig(int32Text(value), key);
}

bool AppSetting::addUserIntConfig(std::int32_t delta, const std::string& key) {
    return setUserIntConfig(wrappingAdd(getUserIntConfig(key), delta), key);
}

std::int64_t AppSetting::getUserLongConfig(const std::string& key) {
    return longLongValueOfText(getUserStrConfig(key).value_or(std::string()));
}

bool AppSetting::setUserLongConfig(std::int64_t value, const std::string& key) {
    return setUserStrConfig(int64Text(value), key);
}

bool AppSetting::addUserLongConfig(std::int64_t delta, const std::string& key) {
    return setUserLongConfig(wrappingAdd(getUserLongConfig(key), delta), key);
}

std::string AppSetting::getUserStrConfigWithDefault(const std::string& key, const std::string& def) {
    const std::optional<std::string> value = getUserStrConfig(key);
    return value && !value->empty() ? *value : def;
}

std::int32_t AppSetting::getUserIntConfigWithDefault(const std::string& key, std::int32_t def) {
    const std::optional<std::string> value = getUserStrConfig(key);
    return value && !value->empty() ? intValueOfText(*value) : def;
}

std::optional<QVariantMap> AppSetting::getUserDictConfig(const std::string& key) {
    QSettings settings;
    const QVariant value = storedValue(settings, key);
    if (value.typeId() != QMetaType::QVariantMap) {
        return std::nullopt;
    }
    return value.toMap();
}

std::optional<QVariantList> AppSetting::getUserArrayConfig(const std::string& key) {
    QSettings settings;
    const QVariant value = storedValue(settings, key);
    if (value.typeId() != QMetaType::QVariantList && value.typeId() != QMetaType::QStringList) {
        return std::nullopt;
    }
    return value.toList();
}

bool AppSetting::setUserDictConfig(const QVariantMap& value, const std::string& key) {
    QSettings settings;
    return store(settings, key, QVariant(value));
}

bool AppSetting::setUserArryConfig(const QVariantList& value, const std::string& key) {
    QSettings settings;
    return store(settings, key, QVariant(value));
}

void AppSetting::registerDefaults(const QVariantMap& defaults) {
    {
        std::lock_guard lock(defaultsMutex());
        for (auto it = defaults.begin(); it != defaults.end(); ++it) {
            registeredDefaults().insert(it.key(), it.value());
        }
    }
    QSettings().sync();
}

std::optional<std::string> AppSetting::getStrConfig(const std::string& key) {
    return KKKeychain::getStringForKey(key);
}

bool AppSetting::setStrConfig(const std::optional<std::string>& value, const std::string& key) {
    return KKKeychain::setString(value, key);
}

std::int32_t AppSetting::getIntConfig(const std::string& key) {
    return intValueOfText(getStrConfig(key).value_or(std::string()));
}

std::int64_t AppSetting::getLongConfig(const std::string& key) {
    return longLongValueOfText(getStrConfig(key).value_or(std::string()));
}

bool AppSetting::setIntConfig(std::int32_t value, const std::string& key) {
    return setStrConfig(int32Text(value), key);
}

bool AppSetting::setLongConfig(std::int64_t value, const std::string& key) {
    return setStrConfig(int64Text(value), key);
}

bool AppSetting::addIntConfig(std::int32_t delta, const std::string& key) {
    return setIntConfig(wrappingAdd(getIntConfig(key), delta), key);
}

std::optional<std::string> AppSetting::getShareStrConfig(const std::string& key, const std::string& group) {
    const std::unique_ptr<QSettings> settings = groupSettings(group);
    return textOf(settings->value(qkey(key)));
}

bool AppSetting::setShareStrConfig(const std::optional<std::string>& value, const std::string& key,
                                   const std::string& group) {
    const std::unique_ptr<QSettings> settings = groupSettings(group);
    return store(*settings, key, textVariant(value));
}

std::int32_t AppSetting::getShareIntConfig(const std::string& key, const std::string& group) {
    return intValueOfText(getShareStrConfig(key, group).value_or(std::string()));
}

bool AppSetting::setShareIntConfig(std::int32_t value, const std::string& key, const std::string& group) {
    return setShareStrConfig(int32Text(value), key, group);
}

} // namespace lanyard
