#include "Charset.h"

#include <unicode/ucnv.h>

#include <memory>

namespace platform {

namespace {

struct ConverterCloser {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

std::string_view trimmed(std::string_view name) {
    while (!name.empty() && (name.front() == ' ' || name.front() == '\t')) {
        name.remove_prefix(1);
    }
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) {
        name.remove_suffix(1);
    }
    return name;
}

// A converter for the charset whose invalid input and unmappable characters stop the conversion
// with an error; none for an empty or unknown name (ICU would open its default converter for an
// empty one).
Converter openStrictConverter(std::string_view charset) {
    const std::string name(trimmed(charset));
    if (name.empty() || name.find('\0') != std::string::npos) {
        return nullptr;
    }
    UErrorCode status = U_ZERO_ERROR;
    Converter converter(ucnv_open(name.c_str(), &status));
    if (U_FAILURE(status) || !converter) {
        return nullptr;
    }
    ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    ucnv_setFromUCallBack(converter.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    if (U_FAILURE(status)) {
        return nullptr;
    }
    return converter;
}

// Converts all bytes from one charset to another through ICU's UTF-16 pivot, piece by piece, so
// any length works.
std::optional<std::string> convert(const char* bytes, std::size_t length, std::string_view from,
                                   std::string_view to) {
    Converter source = openStrictConverter(from);
    Converter target = openStrictConverter(to);
    if (!source || !target) {
        return std::nullopt;
    }
    std::string result;
    if (length == 0) {
        return result;
    }
    UChar pivot[1024];
    UChar* pivotSource = pivot;
    UChar* pivotTarget = pivot;
    const char* input = bytes;
    const char* const inputLimit = bytes + length;
    char output[16384];
    bool reset = true;
    for (;;) {
        char* outputCursor = output;
        UErrorCode status = U_ZERO_ERROR;
        ucnv_convertEx(target.get(), source.get(), &outputCursor, output + sizeof output, &input, inputLimit,
                       pivot, &pivotSource, &pivotTarget, pivot + 1024, reset, true, &status);
        reset = false;
        result.append(output, static_cast<std::size_t>(outputCursor - output));
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            continue;
        }
        if (U_FAILURE(status)) {
            return std::nullopt;
        }
        return result;
    }
}

} // namespace

std::optional<std::string> canonicalCharsetName(std::string_view name) {
    Converter converter = openStrictConverter(name);
    if (!converter) {
        return std::nullopt;
    }
    UErrorCode status = U_ZERO_ERROR;
    const char* internal = ucnv_getName(converter.get(), &status);
    if (U_FAILURE(status) || !internal) {
        return std::nullopt;
    }
    for (const char* standard : {"MIME", "IANA"}) {
        status = U_ZERO_ERROR;
        const char* preferred = ucnv_getStandardName(internal, standard, &status);
        if (U_SUCCESS(status) && preferred) {
            return std::string(preferred);
        }
    }
    return std::string(internal);
}

std::optional<std::string> decodeToUTF8(const void* bytes, std::size_t length, std::string_view charset) {
    return convert(static_cast<const char*>(bytes), length, charset, "UTF-8");
}

std::optional<std::string> encodeFromUTF8(std::string_view text, std::string_view charset) {
    return convert(text.data(), text.size(), "UTF-8", charset);
}

} // namespace platform
