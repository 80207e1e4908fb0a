#pragma once

#include <QSettings>

/// The settings file as a user may edit it: "[Section]" and "key=value" lines, where a value is the
/// text after '=' as it stands (commas, semicolons and spaces included), read as UTF-8 or, when its
/// bytes are not UTF-8, as Latin-1. The quoting and escapes of QSettings' INI writer are still
/// undone, so files written by earlier builds keep their values, and they are what it writes.
/// Keys are full names ("Section/key"); a file is written with its sections and keys sorted.
namespace SettingsFileFormat {
QSettings::SettingsMap parse(QByteArrayView data);
QByteArray serialized(const QSettings::SettingsMap &map);
/// parse and serialized over a device; read takes all the device holds, so the caller bounds it.
bool read(QIODevice &device, QSettings::SettingsMap &map);
bool write(QIODevice &device, const QSettings::SettingsMap &map);
} // namespace SettingsFileFormat
