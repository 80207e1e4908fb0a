#include "AddressHistory.h"

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
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return std::nullopt;
    }
    const qint64 size = file.size();
    if (size > bytes && !file.seek(size - bytes)) {
        error = file.errorString();
        return std::nullopt;
    }
    QByteArray data = file.read(bytes);
    if (file.error() != QFileDevice::NoError) {
        error = file.errorString();
        return std::nullopt;
    }
    return data;
}
} // namespace

QString AddressHistory::defaultPath()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    // XDG says a relative XDG_STATE_HOME is invalid and must be ignored.
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/Netquill/history.csv");
}

AddressHistory::AddressHistory(QString path) : m_path(std::move(path)) {}

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
    }
    return {};
}

std::optional<AddressHistory::Kind> AddressHistory::kindFromName(QStringView name)
{
    for (Kind kind : {Kind::Internal, Kind::External, Kind::Failing, Kind::Working}) {
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

std::optional<AddressHistory::Event> AddressHistory::parseLine(const QByteArray &record)
{
    qsizetype next = 0;
    const std::optional<Event> event = eventAt(record, 0, next);
    // One record, and nothing after it.
    return next >= record.size() ? event : std::nullopt;
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
    const qsizetype start = QFileInfo(path).size() > data->size() ? firstWholeRecord(*data, 1) : 0;
    int damaged = 0;
    int firstDamaged = 0;
    const QList<Event> events = parseAll(*data, start, damaged, firstDamaged);
    // Once per file and program run: the window and the lookups read it again and again.
    static QMutex reportedLock;
    static QSet<QString> reported;
    if (damaged > 0) {
        const QMutexLocker lock(&reportedLock);
        if (!reported.contains(path)) {
            reported.insert(path);
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
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder)) {
        qCWarning(lcHistory) << "cannot create the folder" << folder;
        return false;
    }
    if (const QString problem = WholeFile::notRegular(m_path); !problem.isEmpty()) {
        qCWarning(lcHistory) << "cannot open" << m_path << ":" << problem;
        return false;
    }
    QFile file(m_path);
    // Unbuffered, so that the line goes out in one write, appended even when another process wrote
    // in between; the addresses are the user's business only.
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered,
                   QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        qCWarning(lcHistory) << "cannot open" << m_path << ":" << file.errorString();
        return false;
    }
    QByteArray line = formatLine(event);
    // A last line cut off (by hand, or by a full disk) would swallow this one.
    const qint64 size = file.size();
    if (size > 0 && file.seek(size - 1) && file.read(1) != "\n")
        line.prepend('\n');
    const qint64 written = file.write(line);
    if (written != line.size()) {
        qCWarning(lcHistory) << "cannot append to" << m_path << ":" << file.errorString();
        return false;
    }
    const qint64 grown = file.size();
    file.close();
    if (grown > MaxBytes)
        trim(grown);
    return true;
}

void AddressHistory::trim(qint64 size) const
{
    QString error;
    const std::optional<QByteArray> tail = readTail(m_path, TrimmedBytes, error);
    if (!tail) {
        qCWarning(lcHistory) << "cannot read" << m_path << "to drop its oldest lines:" << error;
        return;
    }
    const QByteArray kept = tail->mid(firstWholeRecord(*tail, size > tail->size() ? 1 : 0));
    if (!WholeFile::write(m_path, kept, error))
        qCWarning(lcHistory) << "cannot drop the oldest lines of" << m_path << ":" << error;
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
