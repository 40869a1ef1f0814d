#pragma once

#include <QString>

namespace lanyard {

// The path with the home folder written as "~": only when the path is the home folder itself or lies
// inside it ("/home/u/Music" → "~/Music", while "/home/u2" stays as it is).
QString abbreviatingHomeFolder(const QString& path, const QString& home);

// The path's last component ("/a/b/" → "b", "/" → "/").
QString lastPathComponent(const QString& path);

} // namespace lanyard
