#include "Localized.h"

#include <QCoreApplication>

namespace lanyard {

QString localized(const char* englishText) {
    return QCoreApplication::translate("Lanyard", englishText);
}

QString formatted(const QString& format, const QString& argument) {
    const qsizetype at = format.indexOf(QStringLiteral("%@"));
    if (at < 0) {
        return format;
    }
    QString result = format;
    result.replace(at, 2, argument);
    return result;
}

} // namespace lanyard
