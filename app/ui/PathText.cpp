#include "PathText.h"

namespace lanyard {

namespace {

// The path without trailing slashes, "/" kept.
QString withoutTrailingSlashes(const QString& path) {
    qsizetype end = path.size();
    while (end > 1 && path.at(end - 1) == u'/') {
        --end;
    }
    return path.left(end);
}

} // namespace

QString abbreviatingHomeFolder(const QString& path, const QString& home) {
    const QString base = withoutTrailingSlashes(home);
    if (base.isEmpty()) {
        return path;
    }
    if (path == base) {
        return QStringLiteral("~");
    }
    if (base == u"/") {
        return path.startsWith(u'/') ? QStringLiteral("~") + path : path;
    }
    if (path.startsWith(base) && path.size() > base.size() && path.at(base.size()) == u'/') {
        return QStringLiteral("~") + path.mid(base.size());
    }
    return path;
}

QString lastPathComponent(const QString& path) {
    const QString trimmed = withoutTrailingSlashes(path);
    if (trimmed == u"/") {
        return trimmed;
    }
    const qsizetype slash = trimmed.lastIndexOf(u'/');
    return slash < 0 ? trimmed : trimmed.mid(slash + 1);
}

} // namespace lanyard
