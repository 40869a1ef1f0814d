#pragma once

#include <QString>

namespace lanyard {

// Every text the user sees is looked up in the application's translations with its English text as
// the key; a key without a translation shows as it is.
QString localized(const char* englishText);

// The format with its first "%@" replaced by the argument (the format is returned unchanged when it
// has none).
QString formatted(const QString& format, const QString& argument);

} // namespace lanyard
