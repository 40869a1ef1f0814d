#include "KKKeychain.h"

#include <foundation/MainBundle.h>

#include <libsecret/secret.h>

#include <cstdio>
#include <mutex>

namespace lanyard {

namespace {

constexpr const char* kService = "service";
constexpr const char* kFallbackName = "Marlowen";

std::mutex& collectionMutex() {
    static std::mutex mutex;
    return mutex;
}

std::string& collectionAlias() {
    static std::string alias = SECRET_COLLECTION_DEFAULT;
    return alias;
}

// A generic-password item: the service and the account identify it.
const SecretSchema* genericPasswordSchema() {
    static const SecretSchema schema = [] {
        SecretSchema value{};
        value.name = "org.lanyard.GenericPassword";
        value.flags = SECRET_SCHEMA_NONE;
        value.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        value.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        value.attributes[2] = {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING};
        return value;
    }();
    return &schema;
}

std::string accountForKey(const std::string& key) {
    return KKKeychain::appIdentifier() + " - " + key;
}

void logError(const char* what, GError* error) {
    if (error) {
        std::fprintf(stderr, "keychain %s failed: %s\n", what, error->message);
        g_error_free(error);
    }
}

void updateItem(SecretItem* item, const std::string& text) {
    SecretValue* secret = secret_value_new(text.c_str(), static_cast<gssize>(text.size()), "text/plain");
    GError* error = nullptr;
    secret_item_set_secret_sync(item, secret, nullptr, &error);
    logError("update", error);
    secret_value_unref(secret);
}

void addItem(const std::string& account, const std::string& text) {
    const std::string target = KKKeychain::collection();
    GError* error = nullptr;
    secret_password_store_sync(genericPasswordSchema(), target.c_str(), account.c_str(), text.c_str(),
                               nullptr, &error, "service", kService, "account", account.c_str(), nullptr);
    logError("add", error);
}

} // namespace

void KKKeychain::setCollection(const std::string& collection) {
    std::lock_guard lock(collectionMutex());
    collectionAlias() = collection;
}

std::string KKKeychain::collection() {
    std::lock_guard lock(collectionMutex());
    return collectionAlias();
}

std::string KKKeychain::appName() {
    return platform::MainBundle::infoValue("CFBundleName").value_or(kFallbackName);
}

std::string KKKeychain::appIdentifier() {
    return platform::MainBundle::infoValue("CFBundleIdentifier").value_or(kFallbackName);
}

bool KKKeychain::setString(const std::optional<std::string>& value, const std::optional<std::string>& key) {
    if (!value || !key) {
        return false;
    }
    const std::string account = accountForKey(*key);
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
    if (!service) {
        logError("connection", error);
        return true;
    }
    GHashTable* attributes = secret_attributes_build(genericPasswordSchema(), "service", kService, "account",
                                                     account.c_str(), nullptr);
    GList* items = secret_service_search_sync(service, genericPasswordSchema(), attributes,
                                              SECRET_SEARCH_NONE, nullptr, &error);
    if (error) {
        logError("search", error);
    } else if (items) {
        updateItem(SECRET_ITEM(items->data), *value);
    } else {
        addItem(account, *value);
    }
    g_list_free_full(items, g_object_unref);
    g_hash_table_unref(attributes);
    g_object_unref(service);
    return true;
}

std::optional<std::string> KKKeychain::getStringForKey(const std::string& key) {
    const std::string account = accountForKey(key);
    GError* error = nullptr;
    gchar* secret = secret_password_lookup_sync(genericPasswordSchema(), nullptr, &error, "service", kService,
                                                "account", account.c_str(), nullptr);
    if (!secret) {
        logError("lookup", error);
        return std::nullopt;
    }
    std::string result(secret);
    secret_password_free(secret);
    return result;
}

} // namespace lanyard
