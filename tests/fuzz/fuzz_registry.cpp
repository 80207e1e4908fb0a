// libFuzzer target: the files the registry stand-in keeps, as anyone may edit them: an autostart
// entry and the key store. Reading any of them must not crash; a store that cannot be read must never
// be overwritten; what is written must read back as it was given.

#include "PortableRegistry.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {

QString configHome;

void writeFile(const QString &fileName, const QByteArray &content)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        std::abort();
}

QByteArray readFile(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Files are replaced and synced on every write; memory-backed storage keeps the fuzzer quick.
    QByteArray folder =
        QDir("/dev/shm").exists() ? "/dev/shm/netquill-fuzz-XXXXXX" : "/tmp/netquill-fuzz-XXXXXX";
    if (!mkdtemp(folder.data()))
        std::abort();
    configHome = QString::fromLocal8Bit(folder);
    qputenv("XDG_CONFIG_HOME", folder);
    QDir().mkpath(configHome + QStringLiteral("/autostart"));
    QDir().mkpath(configHome + QStringLiteral("/Fuzz"));
    std::atexit([] { QDir(configHome).removeRecursively(); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    PortableRegistry registry(QStringLiteral("Fuzz"));
    const QString run = QLatin1String(RegistryPath::Run);
    const QString entry = PortableRegistry::autostartFolder() + QStringLiteral("/Fuzz.desktop");

    // Any autostart entry, edited by hand or written by another program.
    writeFile(entry, input);
    registry.queryValue(RegistryRoot::CurrentUser, run, QStringLiteral("Fuzz"));

    // Any command, written and read back.
    const QString command = QString::fromUtf8(input);
    if (registry.setString(RegistryRoot::CurrentUser, run, QStringLiteral("Fuzz"), command)) {
        const std::optional<RegistryValue> back =
            registry.queryValue(RegistryRoot::CurrentUser, run, QStringLiteral("Fuzz"));
        if (!back || back->type != RegistryType::String || back->data != command)
            std::abort();
    }

    // Any key store.
    const QString store = registry.storeFile();
    writeFile(store, input);
    const QString key = QStringLiteral("Software\\Fuzz");
    registry.queryValue(RegistryRoot::CurrentUser, key, QStringLiteral("Value"));
    const bool set = registry.setString(RegistryRoot::CurrentUser, key, QStringLiteral("Value"), command);
    if (!set) {
        if (readFile(store) != input) // a store it cannot read is left as it was
            std::abort();
    } else {
        const std::optional<RegistryValue> back =
            registry.queryValue(RegistryRoot::CurrentUser, key, QStringLiteral("Value"));
        if (!back || back->type != RegistryType::String || back->data != command)
            std::abort();
    }
    registry.deleteValue(RegistryRoot::CurrentUser, key, QStringLiteral("Value"));
    registry.deleteKey(RegistryRoot::CurrentUser, key);
    return 0;
}
