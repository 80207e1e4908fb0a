#include "SettingsStore.h"

#include "SettingsFileFormat.h"
#include "SettingsLog.h"
#include "WholeFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QPointer>
#include <QStandardPaths>
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

} // namespace

struct SettingsStore::Shared {
    explicit Shared(QString file) : fileName(std::move(file))
    {
        writer.setMaxThreadCount(1); // saves stay in order
        // Lookups come minutes apart: an idle program keeps no writer thread.
        writer.setExpiryTimeout(1000);
    }
    ~Shared() { writer.waitForDone(); }

    const QString fileName;
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
    std::mutex io; // one read or write of the file at a time
    QThreadPool writer;

    static std::shared_ptr<Shared> of(const QString &fileName)
    {
        static std::mutex registryMutex;
        static QHash<QString, std::weak_ptr<Shared>> registry;
        std::lock_guard lock(registryMutex);
        std::shared_ptr<Shared> shared = registry.value(fileName).lock();
        if (!shared) {
            shared = std::make_shared<Shared>(fileName);
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
            stored = std::move(*onDisk);
        } else {
            qCWarning(lcSettings).noquote() << "Cannot read the settings from" << fileName << "-" << error;
        }
    }

    void add(const QList<std::pair<QString, QString>> &values)
    {
        std::lock_guard lock(mutex);
        ++saves;
        for (const auto &[key, value] : values)
            unwritten.append({key, value, saves});
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
        const auto onDisk = readWhole(fileName, error);
        if (!onDisk)
            return fail(QStringLiteral("cannot read it whole: ") + error, error);
        QSettings::SettingsMap merged = *onDisk;
        for (const Unwritten &value : std::as_const(values))
            merged.insert(Section + value.key, value.value);
        // Values the file already holds need no write: most lookups find the addresses unchanged,
        // and each write costs two waits for the disk.
        const bool changed = merged != *onDisk;
        if (changed && !WholeFile::write(fileName, SettingsFileFormat::serialized(merged), error)) {
            std::lock_guard lock(mutex);
            stored = *onDisk; // what an editor may have changed is read all the same
            return fail(error, error);
        }
        std::lock_guard lock(mutex);
        stored = std::move(merged);
        unwritten.removeIf([upTo](const Unwritten &value) { return value.save <= upTo; });
        return std::nullopt;
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
    : m_shared(Shared::of(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + u'/' +
                          application + u'/' + application + QStringLiteral(".conf"))),
      m_typing(new QTimer(this))
{
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->stores.append(this);
    }
    m_typing->setSingleShot(true);
    m_typing->setInterval(TypingPauseMs);
    connect(m_typing, &QTimer::timeout, this, [this] { m_shared->schedule(false); });
    // The main window is never deleted, so the end of the event loop is where saves are finished.
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

void SettingsStore::WhenWritten(QObject *context, std::function<void(bool ok)> then)
{
    Shared &shared = *m_shared;
    quint64 upTo = 0;
    {
        std::lock_guard lock(shared.mutex);
        upTo = shared.saves;
    }
    shared.schedule(false);
    // Queued behind the write above; the store outlives it, as its destruction waits for the writer.
    shared.writer.start([this, &shared, upTo, context = QPointer<QObject>(context), then = std::move(then)] {
        const bool ok = shared.allWritten(upTo);
        QMetaObject::invokeMethod(
            this,
            [context, then, ok] {
                if (context)
                    then(ok);
            },
            Qt::QueuedConnection);
    });
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
