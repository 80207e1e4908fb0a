#pragma once

#include <QSettings>

/// The settings file as a user may edit it: "[Section]" and "key=value" lines, where a value is the
/// text after '=' as it stands (commas, semicolons and spaces included), read as UTF-8 or, when its
/// bytes are not UTF-8, as Latin-1. The quoting and escapes of QSettings' INI writer are still
/// undone, so files written by earlier builds keep their values, and they are what it writes.
namespace SettingsFileFormat {
/// Registered once, with the native format's file name ("<app>.conf").
QSettings::Format format();
bool read(QIODevice &device, QSettings::SettingsMap &map);
bool write(QIODevice &device, const QSettings::SettingsMap &map);
} // namespace SettingsFileFormat
