#include "SettingsStore.h"

#include "FileLock.h"
#include "SettingsFileFormat.h"
#include "SettingsLog.h"
#include "WholeFile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QPointer>
#include <QStringList>
#include <QThreadPool>
#include <QTimer>
#include <algorithm>
#include <mutex>

Q_LOGGING_CATEGORY(lcSettings, "netquill.settings")

namespace {
const QString Section = QStringLiteral("Settings/");
// The file is the user's to edit and may hold a long hand-made list of sources, but a save writes
// back all it read: a file beyond this bound is not read, and so never rewritten.
constexpr qint64 MaxFileBytes = qint64(16) << 20;

// The whole file, or nullopt with the reason it cannot be read whole. A missing file holds nothing.
std::optional<QSettings::SettingsMap> readWhole(const QString &fileName, QString &error)
{
    if (!QFileInfo::exists(fileName))
        return QSettings::SettingsMap();
    const std::optional<QByteArray> data = WholeFile::read(fileName, MaxFileBytes, error);
    if (!data)
        return std::nullopt;
    return SettingsFileFormat::parse(*data);
}

// Where the settings go: $XDG_CONFIG_HOME, else ~/.config, as the other files of the program.
struct ConfigHome {
    QString variable; // the environment variable naming the base
    QString base;     // its value: a home must exist already; XDG_CONFIG_HOME is made when missing
    QString folder;   // the config folder: the base itself, or .config in it

    static ConfigHome current()
    {
        // A relative XDG_CONFIG_HOME is invalid and must be ignored.
        const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
        if (QDir::isAbsolutePath(xdg))
            return {QStringLiteral("XDG_CONFIG_HOME"), QDir::cleanPath(xdg), QDir::cleanPath(xdg)};
        const QString home = qEnvironmentVariable("HOME");
        return {QStringLiteral("HOME"), QDir::isAbsolutePath(home) ? QDir::cleanPath(home) : home,
                QDir::cleanPath(QDir::homePath() + QStringLiteral("/.config"))};
    }

    QString problem() const
    {
        if (base.isEmpty())
            return variable + QStringLiteral(" is not set");
        const QString named = variable + QStringLiteral(" (") + base + QStringLiteral(") ");
        if (!QDir::isAbsolutePath(base))
            return named + QStringLiteral("is not an absolute path");
        const QFileInfo info(base);
        // XDG_CONFIG_HOME is made at the first write; a home is the system's to make.
        if (!info.exists())
            return variable == QLatin1String("HOME") ? named + QStringLiteral("does not exist") : QString();
        if (!info.isDir())
            return named + QStringLiteral("is not a folder");
        return {};
    }
};

// QSaveFile writes "<file>." and six ASCII letters beside the file and renames it over the file; a
// process killed in between leaves it. Nothing else is named so: not "<file>.lock", not a backup the
// user named "<file>.bak" or "<file>.202405".
bool isLeftoverOf(const QString &fileName, const QString &name)
{
    constexpr qsizetype Letters = 6;
    if (name.size() != fileName.size() + 1 + Letters || !name.startsWith(fileName) ||
        name[fileName.size()] != u'.')
        return false;
    return std::all_of(name.cend() - Letters, name.cend(),
                       [](QChar ch) { return (ch >= u'a' && ch <= u'z') || (ch >= u'A' && ch <= u'Z'); });
}

} // namespace

struct SettingsStore::Shared {
    Shared(QString file, ConfigHome configHome) : fileName(std::move(file)), home(std::move(configHome))
    {
        writer.setMaxThreadCount(1); // saves stay in order
        // Lookups come minutes apart: an idle program keeps no writer thread.
        writer.setExpiryTimeout(1000);
    }
    ~Shared() { writer.waitForDone(); }

    const QString fileName;
    const ConfigHome home;
    // A value not on the disk yet, with the number of its save: queued for the writer, or left by a
    // save that failed. GetSetting answers from here first.
    struct Unwritten {
        QString key;
        QString value;
        quint64 save;
    };
    std::mutex mutex;              // guards the members below, up to `io`
    QSettings::SettingsMap stored; // what the file held when last read or written
    QList<Unwritten> unwritten;    // in the order saved
    quint64 saves = 0;
    quint64 taken = 0;    // the last save a write has taken up
    quint64 finished = 0; // writes ended, whether they succeeded or not
    QList<SettingsStore *> stores;
    std::mutex io; // one read or write of the file at a time; guards the members below it
    bool leftoversRemoved = false;
    bool notSettingsReported = false;
    bool warnedUnlocked = false;
    QThreadPool writer;

    static std::shared_ptr<Shared> of(const QString &application)
    {
        ConfigHome home = ConfigHome::current();
        const QString fileName =
            home.folder + u'/' + application + u'/' + application + QStringLiteral(".conf");
        static std::mutex registryMutex;
        static QHash<QString, std::weak_ptr<Shared>> registry;
        std::lock_guard lock(registryMutex);
        std::shared_ptr<Shared> shared = registry.value(fileName).lock();
        if (!shared) {
            shared = std::make_shared<Shared>(fileName, std::move(home));
            registry.insert(fileName, shared);
        }
        shared->load(); // again for each store: the file may have been edited since
        return shared;
    }

    void load()
    {
        std::lock_guard ioLock(io);
        QString error;
        if (auto onDisk = readWhole(fileName, error)) {
            std::lock_guard lock(mutex);
            // Garbage, or a file emptied while it is being replaced, would turn every option to its
            // default; the options read last stay until the file reads as settings again.
            if (!holdsSettings(*onDisk) && holdsSettings(stored)) {
                if (!std::exchange(notSettingsReported, true))
                    qCWarning(lcSettings).noquote()
                        << "The settings file" << fileName
                        << "holds no [Settings] keys: the options stay as they were last read";
                return;
            }
            notSettingsReported = false;
            stored = std::move(*onDisk);
        } else {
            qCWarning(lcSettings).noquote() << "Cannot read the settings from" << fileName << "-" << error;
        }
    }

    void add(const QList<std::pair<QString, QString>> &values)
    {
        std::lock_guard lock(mutex);
        ++saves;
        // A key's earlier value not written yet goes: while writes fail, every lookup saves the
        // addresses again, and the list would grow with each.
        for (const auto &[key, value] : values) {
            unwritten.removeIf([&key](const Unwritten &earlier) { return earlier.key == key; });
            unwritten.append({key, value, saves});
        }
    }

    /// Reads the file whole, puts every unwritten value over it and, when that changes anything,
    /// replaces the file. Returns the reason of a failure, after which the values stay unwritten.
    std::optional<QString> writeUnwritten()
    {
        std::lock_guard ioLock(io);
        QList<Unwritten> values;
        quint64 upTo = 0;
        {
            std::lock_guard lock(mutex);
            values = unwritten;
            upTo = taken = saves;
        }
        if (values.isEmpty())
            return std::nullopt;
        QString error;
        if (!makeFolder(error))
            return fail(error, error);
        // Around the read, merge and rename: a rename landing late must not undo what another process
        // wrote meanwhile. Longer than any write takes; a holder stopped for good must not keep the
        // saves forever.
        constexpr int LockWaitMs = 10000;
        FileLock fileLock; // held until the write is over
        switch (fileLock.take(fileName + QStringLiteral(".lock"), LockWaitMs, error)) {
        case FileLock::Failed:
            return fail(error, error);
        case FileLock::Unavailable:
            if (!std::exchange(warnedUnlocked, true))
                qCWarning(lcSettings).noquote()
                    << "Saving" << fileName
                    << "without a lock - " + error +
                           "; a save another process makes at the same moment may undo this one";
            break;
        case FileLock::Held:
            // Only under the lock: a temporary file of another process's save in progress is not a leftover.
            if (!std::exchange(leftoversRemoved, true))
                removeLeftovers();
            break;
        }
        error.clear();
        const auto onDisk = readWhole(fileName, error);
        if (!onDisk)
            return fail(QStringLiteral("cannot read it whole: ") + error, error);
        QSettings::SettingsMap merged = *onDisk;
        if (!holdsSettings(*onDisk)) {
            // Written over garbage, the options this program holds would be lost, and the next reload
            // would read every one of them as its default: the file is kept aside, the options written.
            if (QFileInfo(fileName).size() > 0 && !setAside(error))
                return fail(error, error);
            std::lock_guard lock(mutex);
            merged = settingsOnly(stored);
        }
        for (const Unwritten &value : std::as_const(values))
            merged.insert(Section + value.key, value.value);
        // Values the file already holds need no write: most lookups find the addresses unchanged,
        // and each write costs two waits for the disk.
        const bool changed = merged != *onDisk;
        // Mail settings are kept here: a new file is the user's alone; an existing one keeps its mode.
        const auto mode = QFileInfo::exists(fileName)
                              ? std::nullopt
                              : std::optional(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        if (changed && !WholeFile::write(fileName, SettingsFileFormat::serialized(merged), error, mode)) {
            std::lock_guard lock(mutex);
            stored = *onDisk; // what an editor may have changed is read all the same
            return fail(error, error);
        }
        std::lock_guard lock(mutex);
        stored = std::move(merged);
        unwritten.removeIf([upTo](const Unwritten &value) { return value.save <= upTo; });
        return std::nullopt;
    }

    /// Makes the folder of the file and those between it and the config base when missing, 0700. An
    /// absolute XDG_CONFIG_HOME is made too, as XDG asks of a program that writes there; a home never
    /// is: without HOME, or with one that does not exist, the settings would land in /.config or in a
    /// made-up home.
    bool makeFolder(QString &error) const
    {
        const QString folder = QFileInfo(fileName).absolutePath();
        if (QFileInfo(folder).isDir())
            return true;
        error = home.problem();
        const QString inBase = error.isEmpty() ? QDir(home.base).relativeFilePath(folder) : QString();
        if (error.isEmpty() && (inBase.isEmpty() || inBase.startsWith(QStringLiteral(".."))))
            error = folder + QStringLiteral(" is outside ") + home.base;
        return error.isEmpty() && WholeFile::makeFolders(folder, error);
    }

    static bool holdsSettings(const QSettings::SettingsMap &map)
    {
        return std::any_of(map.keyBegin(), map.keyEnd(),
                           [](const QString &key) { return key.startsWith(Section); });
    }

    static QSettings::SettingsMap settingsOnly(QSettings::SettingsMap map)
    {
        map.removeIf([](const auto &entry) { return !entry.key().startsWith(Section); });
        return map;
    }

    /// Renames a file that does not read as settings out of the way, for the user to look at.
    bool setAside(QString &error) const
    {
        const QString aside = fileName + QStringLiteral(".damaged-") +
                              QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddThhmmsszzz"));
        if (!QFile::rename(fileName, aside)) {
            error = QStringLiteral("cannot move the damaged file aside to ") + aside;
            return false;
        }
        qCWarning(lcSettings).noquote()
            << "The settings file" << fileName << "held no [Settings] keys; it was kept as" << aside
            << "and the options this program holds were written";
        return true;
    }

    /// Removes the temporary files of saves killed before their rename. Called holding the lock, when
    /// no save of any process is in progress.
    void removeLeftovers() const
    {
        const QFileInfo file(fileName);
        QDir folder = file.absoluteDir();
        const QStringList names =
            folder.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
        for (const QString &name : names) {
            if (!isLeftoverOf(file.fileName(), name))
                continue;
            QFile leftover(folder.filePath(name));
            if (leftover.remove())
                qCInfo(lcSettings).noquote()
                    << "Removed" << leftover.fileName() << "left by a save that did not finish";
            else
                qCWarning(lcSettings).noquote()
                    << "Cannot remove" << leftover.fileName() << "left by a save that did not finish -"
                    << leftover.errorString();
        }
    }

    QString fail(const QString &logged, const QString &shown) const
    {
        qCWarning(lcSettings).noquote() << "Settings not saved to" << fileName << "-" << logged;
        return QStringLiteral("Settings not saved: ") + shown;
    }

    void report(void (SettingsStore::*signal)(const QString &), const QString &reason)
    {
        QList<SettingsStore *> listeners;
        {
            std::lock_guard lock(mutex);
            listeners = stores;
        }
        for (SettingsStore *store : std::as_const(listeners))
            emit(store->*signal)(reason);
    }

    void save()
    {
        const std::optional<QString> failure = writeUnwritten();
        {
            std::lock_guard lock(mutex);
            ++finished;
        }
        if (failure) {
            report(&SettingsStore::saveFailed, *failure);
            return;
        }
        QList<SettingsStore *> listeners;
        {
            std::lock_guard lock(mutex);
            listeners = stores;
        }
        for (SettingsStore *store : std::as_const(listeners))
            emit store->saved();
    }

    /// Has the writer take up what is unwritten. Without retry only saves no write has taken up yet
    /// count: one write takes up every save made before it starts, and the runs queued behind it find
    /// nothing left. With retry, values a failed write left are written again too.
    void schedule(bool retry)
    {
        writer.start([this, retry] {
            {
                std::lock_guard lock(mutex);
                if (unwritten.isEmpty() || (!retry && taken == saves))
                    return;
            }
            save();
        });
    }

    bool allWritten(quint64 upTo)
    {
        std::lock_guard lock(mutex);
        return std::none_of(unwritten.cbegin(), unwritten.cend(),
                            [upTo](const Unwritten &value) { return value.save <= upTo; });
    }
};

SettingsStore::SettingsStore(const QString &application)
    : m_shared(Shared::of(application)), m_typing(new QTimer(this))
{
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->stores.append(this);
    }
    m_typing->setSingleShot(true);
    m_typing->setInterval(TypingPauseMs);
    connect(m_typing, &QTimer::timeout, this, [this] { m_shared->schedule(false); });
    // Saves still pending when the event loop ends are finished there, while the application runs.
    if (QCoreApplication *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this] { WaitForWrites(); });
}

SettingsStore::~SettingsStore()
{
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->stores.removeAll(this);
    }
    WaitForWrites();
}

QString SettingsStore::GetSetting(const QString &key, const QString &defaultValue) const
{
    std::lock_guard lock(m_shared->mutex);
    const QList<Shared::Unwritten> &unwritten = m_shared->unwritten;
    for (auto it = unwritten.crbegin(); it != unwritten.crend(); ++it) {
        if (it->key == key)
            return it->value;
    }
    const auto stored = m_shared->stored.constFind(Section + key);
    return stored != m_shared->stored.cend() ? stored->toString() : defaultValue;
}

void SettingsStore::SaveSetting(const QString &key, const QString &value)
{
    m_shared->add({{key, value}});
    m_shared->schedule(false);
}

void SettingsStore::SaveSettings(const QList<std::pair<SettingKeys::Key, QString>> &values)
{
    QList<std::pair<QString, QString>> named;
    for (const auto &[key, value] : values)
        named.append({key.name, value});
    m_shared->add(named);
    m_shared->schedule(false);
}

void SettingsStore::SaveTypedSetting(const SettingKeys::Key &key, const QString &value)
{
    m_shared->add({{key.name, value}});
    m_typing->start();
}

bool SettingsStore::WaitForWrites()
{
    Shared &shared = *m_shared;
    const auto finishedWrites = [&shared] {
        std::lock_guard lock(shared.mutex);
        return shared.finished;
    };
    const quint64 before = finishedWrites();
    shared.schedule(false);
    shared.writer.waitForDone();
    // Values left by a write that failed before this call are tried once more; values a write since
    // then has failed on are not, as that was their try.
    if (finishedWrites() == before) {
        shared.schedule(true);
        shared.writer.waitForDone();
    }
    std::lock_guard lock(shared.mutex);
    return shared.unwritten.isEmpty();
}

void SettingsStore::Reload()
{
    m_shared->load();
}

QStringList SettingsStore::keys() const
{
    QStringList result;
    std::lock_guard lock(m_shared->mutex);
    for (auto it = m_shared->stored.cbegin(); it != m_shared->stored.cend(); ++it) {
        if (it.key().startsWith(Section) && !it.key().sliced(Section.size()).contains(u'/'))
            result.append(it.key().sliced(Section.size()));
    }
    for (const Shared::Unwritten &value : std::as_const(m_shared->unwritten)) {
        if (!result.contains(value.key))
            result.append(value.key);
    }
    return result;
}

QString SettingsStore::fileName() const
{
    return m_shared->fileName;
}

std::optional<int> SettingsStore::toWholeNumber(const QString &text)
{
    return SettingKeys::wholeNumber(text);
}

QString SettingsStore::whyNoConfigFolder()
{
    return ConfigHome::current().problem();
}
