#include "PortableRegistry.h"

#include "PlatformLog.h"
#include "WholeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <algorithm>

namespace {

QString configHome()
{
    // A relative XDG_CONFIG_HOME is invalid and must be ignored.
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return xdg;
    return QDir::homePath() + QStringLiteral("/.config");
}

QStringList pathParts(const QString &path)
{
    return path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
}

bool isRunKey(const QString &path)
{
    return pathParts(path)
               .join(QLatin1Char('\\'))
               .compare(QLatin1String(RegistryPath::Run), Qt::CaseInsensitive) == 0;
}

QString rootName(RootKey root)
{
    switch (root) {
    case RegistryRoot::CurrentUser:
        return QStringLiteral("HKEY_CURRENT_USER");
    case RegistryRoot::LocalMachine:
        return QStringLiteral("HKEY_LOCAL_MACHINE");
    default:
        return QStringLiteral("0x%1").arg(root, 8, 16, QLatin1Char('0'));
    }
}

QString keyName(RootKey root, const QStringList &parts)
{
    return (QStringList(rootName(root)) + parts).join(QLatin1Char('\\'));
}

/// The name as spelled in the object, found without regard to case.
std::optional<QString> findName(const QJsonObject &object, const QString &name)
{
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (it.key().compare(name, Qt::CaseInsensitive) == 0)
            return it.key();
    }
    return std::nullopt;
}

bool hasSubkeys(const QJsonObject &store, const QString &key)
{
    const QString prefix = key + QLatin1Char('\\');
    for (auto it = store.begin(); it != store.end(); ++it) {
        if (it.key().startsWith(prefix, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

/// Adds the key and its missing parents; returns the key's name as spelled in the store.
QString ensureKey(QJsonObject &store, RootKey root, const QStringList &parts)
{
    QString name;
    for (qsizetype count = parts.isEmpty() ? 0 : 1; count <= parts.size(); ++count) {
        const QString wanted = keyName(root, parts.mid(0, count));
        const std::optional<QString> existing = findName(store, wanted);
        name = existing.value_or(wanted);
        if (!existing)
            store.insert(name, QJsonObject());
    }
    return name;
}

bool writeAtomically(const QString &fileName, const QByteArray &content)
{
    QString error;
    if (WholeFile::write(fileName, content, error))
        return true;
    qCWarning(lcPlatform).noquote() << "cannot write" << fileName << "-" << error;
    return false;
}

// Desktop entry files: string escapes first, then the quoting rules of the Exec key.

std::optional<QString> escapeString(const QString &text)
{
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\\'))
            out += QLatin1String("\\\\");
        else if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else if (c == QLatin1Char('\t'))
            out += QLatin1String("\\t");
        else if (c == QLatin1Char('\r'))
            out += QLatin1String("\\r");
        else if (c == QLatin1Char(' ') && (i == 0 || i == text.size() - 1))
            out += QLatin1String("\\s"); // readers may strip spaces at either end
        else if (c.category() == QChar::Other_Control)
            return std::nullopt;
        else
            out += c;
    }
    return out;
}

QString unescapeString(const QString &text)
{
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\\') || i + 1 == text.size()) {
            out += c;
            continue;
        }
        const QChar next = text.at(++i);
        switch (next.unicode()) {
        case 's':
            out += QLatin1Char(' ');
            break;
        case 'n':
            out += QLatin1Char('\n');
            break;
        case 't':
            out += QLatin1Char('\t');
            break;
        case 'r':
            out += QLatin1Char('\r');
            break;
        case '\\':
            out += QLatin1Char('\\');
            break;
        default: // not a string escape: left for the quoting rules
            out += c;
            out += next;
        }
    }
    return out;
}

const QLatin1String ExecReserved(" \t\n\r\"'\\><~|&;$*?#()`");
const QLatin1String QuotedEscaped("\"`$\\");

/// The command as one Exec argument: percent signs doubled, quoted when it holds reserved characters
/// or any other white space, which a reader would trim from the ends of the line.
QString execArgument(const QString &command)
{
    QString argument = command;
    argument.replace(QLatin1Char('%'), QLatin1String("%%"));
    const bool quote = command.isEmpty() || std::any_of(command.begin(), command.end(), [](QChar c) {
                           return ExecReserved.contains(c) || c.isSpace();
                       });
    if (!quote)
        return argument;
    QString quoted(QLatin1Char('"'));
    for (const QChar c : argument) {
        if (QuotedEscaped.contains(c))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    return quoted + QLatin1Char('"');
}

/// The arguments of an Exec value whose string escapes are undone; nullopt when its quoting is broken.
std::optional<QStringList> splitExec(const QString &exec)
{
    QStringList arguments;
    qsizetype i = 0;
    const qsizetype n = exec.size();
    while (true) {
        while (i < n && exec.at(i) == QLatin1Char(' '))
            ++i;
        if (i == n)
            return arguments;
        QString argument;
        if (exec.at(i) == QLatin1Char('"')) {
            ++i;
            bool closed = false;
            while (i < n && !closed) {
                QChar c = exec.at(i++);
                if (c == QLatin1Char('"')) {
                    closed = true;
                    continue;
                }
                if (c == QLatin1Char('\\') && i < n && QuotedEscaped.contains(exec.at(i)))
                    c = exec.at(i++);
                argument += c;
            }
            // Arguments are quoted as a whole or not at all.
            if (!closed || (i < n && exec.at(i) != QLatin1Char(' ')))
                return std::nullopt;
        } else {
            while (i < n && exec.at(i) != QLatin1Char(' '))
                argument += exec.at(i++);
        }
        arguments << argument.replace(QLatin1String("%%"), QLatin1String("%"));
    }
}

/// The Exec value of the [Desktop Entry] group, string escapes undone.
std::optional<QString> execValue(const QByteArray &content)
{
    bool inEntry = false;
    for (const QByteArray &raw : content.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (inEntry && equals > 0 && QStringView(line).left(equals).trimmed() == QLatin1String("Exec"))
            return unescapeString(line.mid(equals + 1).trimmed());
    }
    return std::nullopt;
}

/// The entry's file, or nothing for a value name that is no plain file name.
QString autostartFile(const QString &name)
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.contains(QChar(0)))
        return {};
    return PortableRegistry::autostartFolder() + QLatin1Char('/') + name + QLatin1String(".desktop");
}

bool writeAutostart(const QString &name, const QString &command)
{
    const QString fileName = autostartFile(name);
    const std::optional<QString> title = escapeString(name);
    const std::optional<QString> exec = escapeString(execArgument(command));
    if (fileName.isEmpty() || !title || !exec)
        return false;
    const QString content = QLatin1String("[Desktop Entry]\nType=Application\nName=") + *title +
                            QLatin1String("\nExec=") + *exec +
                            QLatin1String("\nX-GNOME-Autostart-enabled=true\n");
    return writeAtomically(fileName, content.toUtf8());
}

std::optional<RegistryValue> readAutostart(const QString &name)
{
    const QString fileName = autostartFile(name);
    QString error;
    // An entry is a few lines; a larger file is not one of ours.
    const std::optional<QByteArray> entry =
        fileName.isEmpty() ? std::nullopt : WholeFile::read(fileName, 64 * 1024, error);
    if (!entry)
        return std::nullopt;
    const std::optional<QString> exec = execValue(*entry);
    if (!exec)
        return std::nullopt;
    // What we wrote is one argument; anything else is a command line and is returned as it stands.
    const std::optional<QStringList> arguments = splitExec(*exec);
    const QString command = arguments && arguments->size() == 1 ? arguments->first() : *exec;
    return RegistryValue{RegistryType::String, command};
}

} // namespace

PortableRegistry::PortableRegistry(const QString &application) : m_application(application) {}

QString PortableRegistry::storeFile() const
{
    return configHome() + QLatin1Char('/') + m_application + QLatin1String("/registry.json");
}

QString PortableRegistry::autostartFolder()
{
    return configHome() + QLatin1String("/autostart");
}

std::optional<QJsonObject> PortableRegistry::loadStore() const
{
    if (!QFileInfo::exists(storeFile()))
        return QJsonObject();
    // A few keys: a larger file is not the store, and is never rewritten.
    QString problem;
    const std::optional<QByteArray> data = WholeFile::read(storeFile(), 1 << 20, problem);
    if (!data)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(*data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

bool PortableRegistry::saveStore(const QJsonObject &store) const
{
    return writeAtomically(storeFile(), QJsonDocument(store).toJson());
}

bool PortableRegistry::createKey(RootKey root, const QString &path)
{
    if (isRunKey(path)) {
        QString error;
        if (WholeFile::makeFolders(autostartFolder(), error))
            return true;
        qCWarning(lcPlatform).noquote() << error;
        return false;
    }
    std::optional<QJsonObject> store = loadStore();
    if (!store)
        return false;
    const qsizetype before = store->size();
    ensureKey(*store, root, pathParts(path));
    return store->size() == before || saveStore(*store);
}

bool PortableRegistry::setString(RootKey root, const QString &path, const QString &name, const QString &data)
{
    if (isRunKey(path))
        return writeAutostart(name, data);
    std::optional<QJsonObject> store = loadStore();
    if (!store)
        return false;
    const QString key = ensureKey(*store, root, pathParts(path));
    QJsonObject values = store->value(key).toObject();
    values.insert(findName(values, name).value_or(name), data);
    store->insert(key, values);
    return saveStore(*store);
}

std::optional<RegistryValue> PortableRegistry::queryValue(RootKey root, const QString &path,
                                                          const QString &name) const
{
    if (isRunKey(path))
        return readAutostart(name);
    const std::optional<QJsonObject> store = loadStore();
    if (!store)
        return std::nullopt;
    const std::optional<QString> key = findName(*store, keyName(root, pathParts(path)));
    if (!key)
        return std::nullopt;
    const QJsonObject values = store->value(*key).toObject();
    const std::optional<QString> value = findName(values, name);
    if (!value)
        return std::nullopt;
    const QJsonValue data = values.value(*value);
    if (!data.isString())
        return RegistryValue{RegistryType::None, QString()};
    return RegistryValue{RegistryType::String, data.toString()};
}

bool PortableRegistry::deleteValue(RootKey root, const QString &path, const QString &name)
{
    if (isRunKey(path)) {
        const QString fileName = autostartFile(name);
        return !fileName.isEmpty() && QFile::exists(fileName) && QFile::remove(fileName);
    }
    std::optional<QJsonObject> store = loadStore();
    if (!store)
        return false;
    const std::optional<QString> key = findName(*store, keyName(root, pathParts(path)));
    if (!key)
        return false;
    QJsonObject values = store->value(*key).toObject();
    const std::optional<QString> value = findName(values, name);
    if (!value)
        return false;
    values.remove(*value);
    store->insert(*key, values);
    return saveStore(*store);
}

bool PortableRegistry::deleteKey(RootKey root, const QString &path)
{
    const QStringList parts = pathParts(path);
    // Neither a root nor the whole autostart folder, which holds other programs' entries too.
    if (parts.isEmpty() || isRunKey(path))
        return false;
    std::optional<QJsonObject> store = loadStore();
    if (!store)
        return false;
    const std::optional<QString> key = findName(*store, keyName(root, parts));
    if (!key || hasSubkeys(*store, *key))
        return false;
    store->remove(*key);
    return saveStore(*store);
}
