// libFuzzer target: the settings file, which the user may edit. Reading any file must not crash, and
// what the program writes from what it read must read back as the same settings.

#include "SettingsFileFormat.h"

#include <QBuffer>
#include <QByteArray>

#include <cstdint>
#include <cstdlib>

namespace {

QSettings::SettingsMap readBytes(const QByteArray &bytes)
{
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    QSettings::SettingsMap map;
    if (!SettingsFileFormat::read(buffer, map))
        std::abort();
    return map;
}

QByteArray writeMap(const QSettings::SettingsMap &map)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!SettingsFileFormat::write(buffer, map))
        std::abort();
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QSettings::SettingsMap read =
        readBytes(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    // A typed file may use forms the writer never produces; once written, the file must be stable.
    const QSettings::SettingsMap written = readBytes(writeMap(read));
    const QByteArray rewritten = writeMap(written);
    if (readBytes(rewritten) != written)
        std::abort();
    return 0;
}
