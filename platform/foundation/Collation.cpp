#include "Collation.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>

namespace platform {

namespace {

// The locale whose order names follow: the process's, unless that is the POSIX locale, whose
// collation is plain code-point order and would sort by case.
icu::Locale collationLocale() {
    const icu::Locale& locale = icu::Locale::getDefault();
    const char* language = locale.getLanguage();
    const char* variant = locale.getVariant();
    if (!language || !*language || std::strcmp(variant, "POSIX") == 0 || std::strcmp(language, "c") == 0) {
        return icu::Locale::getRoot();
    }
    return locale;
}

// The configured collator, made once; callers use clones of it, since a collator is not meant to
// be used by several threads at once.
const icu::Collator* prototype() {
    static const std::unique_ptr<icu::Collator> collator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Collator> made(icu::Collator::createInstance(collationLocale(), status));
        if (U_FAILURE(status) || !made) {
            status = U_ZERO_ERROR;
            made.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
        }
        if (U_FAILURE(status) || !made) {
            return std::unique_ptr<icu::Collator>();
        }
        made->setStrength(icu::Collator::SECONDARY);
        made->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
        return made;
    }();
    return collator.get();
}

std::unique_ptr<icu::Collator> makeCollator() {
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    const icu::Collator* collator = prototype();
    return std::unique_ptr<icu::Collator>(collator ? collator->clone() : nullptr);
}

icu::UnicodeString unicode(std::string_view text) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string sortKey(const icu::Collator& collator, const std::string& name) {
    const icu::UnicodeString text = unicode(name);
    std::string key(64, '\0');
    for (;;) {
        const int32_t length = collator.getSortKey(text, reinterpret_cast<uint8_t*>(key.data()),
                                                   static_cast<int32_t>(key.size()));
        if (length <= 0) {
            return {};
        }
        if (static_cast<std::size_t>(length) <= key.size()) {
            key.resize(static_cast<std::size_t>(length));
            return key;
        }
        key.resize(static_cast<std::size_t>(length));
    }
}

} // namespace

int finderCompare(std::string_view a, std::string_view b) {
    const auto collator = makeCollator();
    if (!collator) {
        return a.compare(b);
    }
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult result = collator->compare(unicode(a), unicode(b), status);
    if (U_FAILURE(status)) {
        return a.compare(b);
    }
    return result == UCOL_LESS ? -1 : (result == UCOL_GREATER ? 1 : 0);
}

void sortInFinderOrder(std::vector<std::string>& names) {
    const auto collator = makeCollator();
    if (!collator) {
        std::sort(names.begin(), names.end());
        return;
    }
    // One sort key per name (they compare as bytes), rather than a collation per comparison.
    std::vector<std::pair<std::string, std::string>> keyed;
    keyed.reserve(names.size());
    for (auto& name : names) {
        keyed.emplace_back(sortKey(*collator, name), std::move(name));
    }
    std::sort(keyed.begin(), keyed.end());
    for (std::size_t i = 0; i < keyed.size(); ++i) {
        names[i] = std::move(keyed[i].second);
    }
}

std::vector<std::size_t> finderOrder(const std::vector<std::string_view>& names) {
    std::vector<std::size_t> order(names.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    const auto collator = makeCollator();
    if (!collator) {
        std::sort(order.begin(), order.end(),
                  [&](std::size_t a, std::size_t b) { return names[a] < names[b]; });
        return order;
    }
    std::string keys;
    keys.reserve(names.size() * 24);
    std::vector<std::pair<std::size_t, std::size_t>> spans(names.size()); // offset and length in keys
    for (std::size_t i = 0; i < names.size(); ++i) {
        const icu::UnicodeString text = unicode(names[i]);
        const std::size_t offset = keys.size();
        std::size_t room = 64;
        for (;;) {
            keys.resize(offset + room);
            const int32_t length = collator->getSortKey(
                text, reinterpret_cast<uint8_t*>(keys.data() + offset), static_cast<int32_t>(room));
            const std::size_t needed = length > 0 ? static_cast<std::size_t>(length) : 0;
            if (needed <= room) {
                keys.resize(offset + needed);
                break;
            }
            room = needed;
        }
        spans[i] = {offset, keys.size() - offset};
    }
    const auto key = [&](std::size_t i) {
        return std::string_view(keys).substr(spans[i].first, spans[i].second);
    };
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const int byKey = key(a).compare(key(b));
        return byKey != 0 ? byKey < 0 : names[a] < names[b];
    });
    return order;
}

} // namespace platform
