#include "AddressHistory.h"

#include "FileLock.h"
#include "LookupCycle.h"
#include "WholeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QSet>
#include <QStringDecoder>

#include <array>
#include <mutex>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#endif

Q_LOGGING_CATEGORY(lcHistory, "netquill.history")

namespace {
constexpr qsizetype FieldCount = 5;
// A record longer than this is damage, not an event: five values cut to MaxValueLength, quoted.
constexpr qsizetype MaxRecordBytes = FieldCount * (AddressHistory::MaxValueLength * 4 * 2 + 3) + 64;

struct Record {
    std::optional<QList<QByteArray>> fields; // nullopt: not a well-formed CSV record
    qsizetype next = 0;                      // where the next record starts
};

// The CSV record starting at `from`, quoted fields spanning lines included. A damaged record never
// swallows the lines after it: the caller starts again at the next line.
Record nextRecord(const QByteArray &data, qsizetype from)
{
    Record record;
    QList<QByteArray> fields;
    QByteArray field;
    bool quoted = false;    // inside a quoted field
    bool wasQuoted = false; // the current field was quoted and is closed
    qsizetype i = from;
    bool ok = true;
    for (; i < data.size(); ++i) {
        const char c = data.at(i);
        if (i - from > MaxRecordBytes) {
            ok = false;
            break;
        }
        if (quoted) {
            if (c == '"') {
                if (i + 1 < data.size() && data.at(i + 1) == '"') {
                    field += '"';
                    ++i;
                } else {
                    quoted = false;
                    wasQuoted = true;
                }
            } else {
                field += c;
            }
            continue;
        }
        if (c == ',') {
            fields.append(field);
            field.clear();
            wasQuoted = false;
        } else if (c == '\n') {
            break;
        } else if (c == '\r' && i + 1 < data.size() && data.at(i + 1) == '\n') {
            ++i;
            break;
        } else if (c == '"' && field.isEmpty() && !wasQuoted) {
            quoted = true;
        } else if (c == '"' || wasQuoted || c == '\r') {
            ok = false; // a quote inside an unquoted field, or text after a closing quote
        } else {
            field += c;
        }
    }
    if (quoted)
        ok = false;
    fields.append(field);
    record.next = i + 1;
    if (ok)
        record.fields = fields;
    return record;
}

// The start of the line after `from` (data.size() when there is none).
qsizetype nextLine(const QByteArray &data, qsizetype from)
{
    const qsizetype end = data.indexOf('\n', from);
    return end < 0 ? data.size() : end + 1;
}

std::optional<QString> utf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError() || text.contains(QChar(0)))
        return std::nullopt;
    return text;
}

QByteArray quoted(const QString &value)
{
    QByteArray bytes = value.left(AddressHistory::MaxValueLength).toUtf8();
    if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\n') || bytes.contains('\r'))
        return '"' + bytes.replace('"', "\"\"") + '"';
    return bytes;
}

// The event a well-formed record holds, if any.
std::optional<AddressHistory::Event> eventFrom(const QList<QByteArray> &fields)
{
    if (fields.size() != FieldCount)
        return std::nullopt;
    std::array<QString, FieldCount> text;
    for (qsizetype i = 0; i < FieldCount; ++i) {
        const std::optional<QString> field = utf8(fields.at(i));
        if (!field || field->size() > AddressHistory::MaxValueLength)
            return std::nullopt;
        text[i] = *field;
    }
    const QDateTime when = QDateTime::fromString(text[0], Qt::ISODate);
    const std::optional<AddressHistory::Kind> kind = AddressHistory::kindFromName(text[1]);
    if (!when.isValid() || !kind)
        return std::nullopt;
    return AddressHistory::Event{when.toUTC(), *kind, text[2], text[3], text[4]};
}

std::optional<AddressHistory::Event> eventAt(const QByteArray &data, qsizetype pos, qsizetype &next)
{
    const Record record = nextRecord(data, pos);
    next = record.next;
    return record.fields ? eventFrom(*record.fields) : std::nullopt;
}

// Events of the data from `from` on; damaged lines counted.
QList<AddressHistory::Event> parseAll(const QByteArray &data, qsizetype from, int &damaged, int &firstDamaged)
{
    QList<AddressHistory::Event> events;
    int line = 1;
    qsizetype pos = from;
    while (pos < data.size()) {
        qsizetype next = 0;
        if (const std::optional<AddressHistory::Event> event = eventAt(data, pos, next)) {
            events.append(*event);
            line += int(data.mid(pos, next - pos).count('\n'));
            pos = next;
            continue;
        }
        const qsizetype skip = nextLine(data, pos);
        // A blank line is no damage.
        if (!data.mid(pos, skip - pos).trimmed().isEmpty() && damaged++ == 0)
            firstDamaged = line;
        ++line;
        pos = skip;
    }
    return events;
}

// The first record boundary at or after a cut at `from`: the rest of a cut line, and any damage
// after it, is dropped.
qsizetype firstWholeRecord(const QByteArray &data, qsizetype from)
{
    if (from == 0)
        return 0;
    qsizetype pos = nextLine(data, from - 1);
    while (pos < data.size()) {
        qsizetype next = 0;
        if (eventAt(data, pos, next))
            return pos;
        pos = nextLine(data, pos);
    }
    return pos;
}

// The last `bytes` of the file at most.
std::optional<QByteArray> readTail(const QString &path, qint64 bytes, QString &error)
{
    QFile file(path);
    error = WholeFile::notRegular(path);
    if (!error.isEmpty())
        return std::nullopt;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        error = file.errorString();
        return std::nullopt;
    }
    const qint64 size = file.size();
    if (size > bytes && !file.seek(size - bytes)) {
        error = file.errorString();
        return std::nullopt;
    }
    QByteArray data = WholeFile::readUpTo(file, bytes);
    if (file.error() != QFileDevice::NoError) {
        error = file.errorString();
        return std::nullopt;
    }
    return data;
}

// An flock on "<history>.lock", held across an append and the trim it may start: a trim reads the tail
// and renames a new file over the old one, and a line another process appended in between would be lost.
// (A lock on the history itself would not do: the rename replaces its inode.) Appends take it
// exclusively too: they are rare, and the check for a cut-off last line then sees the file as the write
// finds it. The kernel frees it when its holder dies; a holder stuck for longer than the wait is
// written past rather than let it stop a lookup.
class HistoryLock {
public:
    explicit HistoryLock(const QString &historyPath)
    {
        // A lock not had within a moment is passed over: the history must never stop a lookup.
        constexpr int WaitMs = 5000;
        QString why;
        if (m_lock.take(historyPath + QStringLiteral(".lock"), WaitMs, why) != FileLock::Held)
            qCWarning(lcHistory).noquote() << why << "- writing without it";
    }

private:
    FileLock m_lock;
};

// Appends `line` in one write, after a line end when the last line was cut off (by hand, or by a full
// disk) so that it cannot swallow this one; `line` then holds that line end too. The new size, or -1
// (logged).
qint64 appendLine(const QString &path, QByteArray &line)
{
    QFile file(path);
    // Unbuffered, so that the line goes out in one write, appended even when another process wrote
    // in between; the addresses are the user's business only.
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered,
                   QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        qCWarning(lcHistory) << "cannot open" << path << ":" << file.errorString();
        return -1;
    }
    const qint64 size = file.size();
    if (size > 0 && file.seek(size - 1) && file.read(1) != "\n")
        line.prepend('\n');
    const qint64 written = file.write(line);
    if (written != line.size()) {
        qCWarning(lcHistory) << "cannot append to" << path << ":" << file.errorString();
        return -1;
    }
    return file.size();
}
} // namespace

QString AddressHistory::defaultPath()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    // XDG says a relative XDG_STATE_HOME is invalid and must be ignored.
    if (state.isEmpty() || QDir::isRelativePath(state)) {
        // Qt's home without HOME is the root folder: no history at all rather than one under /.
        const QString home = qEnvironmentVariable("HOME");
        if (home.isEmpty() || QDir::isRelativePath(home) || !QFileInfo(home).isDir()) {
            static std::once_flag told;
            std::call_once(told, [] {
                qCWarning(lcHistory) << "No history is kept: neither XDG_STATE_HOME nor HOME names a folder";
            });
            return {};
        }
        state = home + QStringLiteral("/.local/state");
    }
    return state + QStringLiteral("/Netquill/history.csv");
}

AddressHistory::AddressHistory(QString path, qint64 maxBytes) : m_path(std::move(path)), m_maxBytes(maxBytes)
{
}

QString AddressHistory::kindName(Kind kind)
{
    switch (kind) {
    case Kind::Internal:
        return QStringLiteral("internal");
    case Kind::External:
        return QStringLiteral("external");
    case Kind::Failing:
        return QStringLiteral("failing");
    case Kind::Working:
        return QStringLiteral("working");
    case Kind::Disagree:
        return QStringLiteral("disagree");
    case Kind::Unsent:
        return QStringLiteral("unsent");
    }
    return {};
}

std::optional<AddressHistory::Kind> AddressHistory::kindFromName(QStringView name)
{
    for (Kind kind :
         {Kind::Internal, Kind::External, Kind::Failing, Kind::Working, Kind::Disagree, Kind::Unsent}) {
        if (name == kindName(kind))
            return kind;
    }
    return std::nullopt;
}

QByteArray AddressHistory::formatLine(const Event &event)
{
    return event.when.toUTC().toString(Qt::ISODate).toLatin1() + ',' + kindName(event.kind).toLatin1() + ',' +
           quoted(event.oldValue) + ',' + quoted(event.newValue) + ',' + quoted(event.source) + '\n';
}

QList<AddressHistory::Event> AddressHistory::read(const QString &path)
{
    if (!QFileInfo::exists(path))
        return {};
    QString error;
    // A file grown past the bound by hand is read from its newest MaxBytes only.
    const std::optional<QByteArray> data = readTail(path, MaxBytes, error);
    if (!data) {
        qCWarning(lcHistory) << "cannot read" << path << ":" << error;
        return {};
    }
    const bool cut = QFileInfo(path).size() > data->size();
    const qsizetype start = cut ? firstWholeRecord(*data, 1) : 0;
    // Nothing at all to read in the part read (one endless line, binary) is damage too.
    const bool unreadable = cut && start >= data->size() && !data->trimmed().isEmpty();
    int damaged = 0;
    int firstDamaged = 0;
    const QList<Event> events = parseAll(*data, start, damaged, firstDamaged);
    // Once per file and program run: the window and the lookups read it again and again.
    static QMutex reportedLock;
    static QSet<QString> reported;
    if (damaged > 0 || unreadable) {
        const QMutexLocker lock(&reportedLock);
        if (!reported.contains(path)) {
            reported.insert(path);
            if (unreadable)
                qCWarning(lcHistory).nospace() << "skipped " << path << ": no line in its newest "
                                               << data->size() << " bytes is readable";
            else
                qCWarning(lcHistory).nospace() << "skipped " << damaged << " damaged line(s) in " << path
                                               << ", the first at line " << firstDamaged;
        }
    }
    return events;
}

bool AddressHistory::clear(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.exists())
        return true;
    // Else a trim of the other process could put back what it read before.
    const HistoryLock lock(path);
    if (!file.resize(0)) {
        qCWarning(lcHistory) << "cannot clear" << path << ":" << file.errorString();
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

bool AddressHistory::append(const Event &event) const
{
    if (m_path.isEmpty())
        return false; // no folder for it, said once
    const QString folder = QFileInfo(m_path).absolutePath();
    if (QString error; !WholeFile::makeFolders(folder, error)) {
        qCWarning(lcHistory).noquote() << error;
        return false;
    }
    if (const QString problem = WholeFile::notRegular(m_path); !problem.isEmpty()) {
        qCWarning(lcHistory) << "cannot open" << m_path << ":" << problem;
        return false;
    }
    const HistoryLock lock(m_path);
    QByteArray line = formatLine(event);
    const qint64 size = appendLine(m_path, line);
    if (size < 0)
        return false;
    if (size > m_maxBytes)
        trim(size, line);
    return true;
}

// Under the lock, with `line` just appended and so still the file's last.
void AddressHistory::trim(qint64 size, const QByteArray &line) const
{
    QString error;
    std::optional<QByteArray> tail = readTail(m_path, m_maxBytes - m_maxBytes / 16, error);
    if (!tail) {
        qCWarning(lcHistory) << "cannot read" << m_path << "to drop its oldest lines:" << error;
        return;
    }
    const qsizetype start = firstWholeRecord(*tail, size > tail->size() ? 1 : 0);
    // Damaged, for a trim: no record before the new line is readable in the part that would be kept.
    if (start >= tail->size() - line.size()) {
        setAside(line);
        return;
    }
    // Cut in place: a copy would be a second buffer of nearly MaxBytes.
    tail->remove(0, start);
    if (!WholeFile::write(m_path, *tail, error))
        qCWarning(lcHistory) << "cannot drop the oldest lines of" << m_path << ":" << error;
}

// Keeps a damaged file for the user to look at, instead of cutting it down to nothing, and starts a new
// one with the line just appended to it.
void AddressHistory::setAside(const QByteArray &line) const
{
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    const QString base = m_path + QStringLiteral(".damaged-") + stamp;
    QString aside = base;
    QFile file(m_path);
    // QFile::rename never replaces a file: a name taken is an earlier damaged file.
    for (int n = 2; !file.rename(aside); ++n) {
        if (n > 100 || !QFileInfo::exists(aside)) {
            qCWarning(lcHistory).nospace()
                << "nothing in the newest lines of " << m_path << " is readable, and it cannot be renamed to "
                << aside << ": " << file.errorString();
            return;
        }
        aside = base + u'-' + QString::number(n);
    }
    qCWarning(lcHistory).nospace() << "nothing in the newest lines of " << m_path << " is readable: kept as "
                                   << aside << ", and a new history started";
    QByteArray fresh = line.startsWith('\n') ? line.mid(1) : line;
    appendLine(m_path, fresh);
}

bool AddressHistory::failing()
{
    if (!m_failing) {
        // An outage the last run saw go on until it ended is still going on.
        m_failing = false;
        const QList<Event> events = read(m_path);
        for (auto it = events.crbegin(); it != events.crend(); ++it) {
            if (it->kind == Kind::Failing || it->kind == Kind::Working) {
                m_failing = it->kind == Kind::Failing;
                break;
            }
        }
    }
    return *m_failing;
}

void AddressHistory::lookupFailed(const QString &status)
{
    if (failing())
        return;
    m_failing = true;
    append({QDateTime::currentDateTimeUtc(), Kind::Failing, {}, status, {}});
}

void AddressHistory::sourcesDisagreed(const QString &stored, const QString &status)
{
    append({QDateTime::currentDateTimeUtc(), Kind::Disagree, stored, status, {}});
}

void AddressHistory::noticeUnsent(const QString &channel, const QString &cause)
{
    append({QDateTime::currentDateTimeUtc(), Kind::Unsent, channel, cause, {}});
}

void AddressHistory::lookupCompleted(const IpSnapshot &previous, const IpSnapshot &current,
                                     const QString &source)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (failing()) {
        m_failing = false;
        append({now, Kind::Working, {}, LookupCycle::StatusFinished, source});
    }
    // As for the notification, a field with nothing recorded yet ("0") does not change.
    if (current.internal != previous.internal && previous.internal != IpSnapshot::None)
        append({now, Kind::Internal, previous.internal, current.internal, source});
    if (current.external != previous.external && previous.external != IpSnapshot::None)
        append({now, Kind::External, previous.external, current.external, source});
}

QStringList AddressHistory::textLines(const QList<Event> &events)
{
    // A value may hold anything a page answered: no terminal control sequence gets through.
    const auto plain = [](QString text) {
        for (QChar &c : text) {
            if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format ||
                c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
                c = u' ';
        }
        return text;
    };
    QStringList lines;
    for (const Event &event : events) {
        QString line = event.when.toString(Qt::ISODate) + u' ' + kindName(event.kind).leftJustified(8) + u' ';
        if (event.kind == Kind::Internal || event.kind == Kind::External)
            line += plain(event.oldValue) + QStringLiteral(" -> ") + plain(event.newValue);
        else
            line += plain(event.newValue);
        if (!event.source.isEmpty())
            line += QStringLiteral(" (") + plain(event.source) + u')';
        lines.append(line);
    }
    return lines;
}

QByteArray AddressHistory::json(const QList<Event> &events)
{
    QJsonArray array;
    for (const Event &event : events) {
        array.append(QJsonObject{{QStringLiteral("time"), event.when.toString(Qt::ISODate)},
                                 {QStringLiteral("event"), kindName(event.kind)},
                                 {QStringLiteral("old"), event.oldValue},
                                 {QStringLiteral("new"), event.newValue},
                                 {QStringLiteral("source"), event.source}});
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}
