#pragma once

#include <optional>
#include <string>

namespace lanyard {

// Text values kept in the user's keyring through the Secret Service (libsecret): one item per key,
// found by the attributes service = "service" and account = "<application identifier> - <key>".
class KKKeychain {
public:
    // The collection new items go to: the alias "default" (the user's default keyring) unless set,
    // "session" for the keyring that lasts as long as the login session, or a collection's object path.
    static void setCollection(const std::string& collection);
    static std::string collection();

    // "CFBundleName" of the main bundle, else "Marlowen".
    static std::string appName();
    // "CFBundleIdentifier" of the main bundle, else "Marlowen".
    static std::string appIdentifier();

    // Stores the text under the key (replacing an existing item). False only when either is none;
    // a keyring that refuses is not reported.
    static bool setString(const std::optional<std::string>& value, const std::optional<std::string>& key);
    // The text stored under the key; none when there is none or the keyring cannot be reached.
    static std::optional<std::string> getStringForKey(const std::string& key);
};

} // namespace lanyard
