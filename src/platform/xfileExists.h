#pragma once

#include <QString>

namespace xfileExists {
/// The text after the last backslash; forward slashes are not separators here.
QString FileNamePart(const QString &path);
/// True when the path names an existing plain (not hidden, not special) file, letter case of the
/// file name ignored. Never fails: every error gives false.
bool FileExists(const QString &path);
} // namespace xfileExists
