#include "MetricsFile.h"

#include "MetricsLog.h"
#include "WholeFile.h"

#include <QFileInfo>
#include <QHash>
#include <QHostAddress>
#include <QMap>
#include <QSet>

#include <array>
#include <limits>
#include <optional>

Q_LOGGING_CATEGORY(lcMetrics, "netquill.metrics")

namespace {
const QString InfoName = QStringLiteral("netquill_external_address_info");

struct Info {
    QString address;
    QString family;
    QString source;
};

// The counters, in the order of the file.
enum Counter {
    LookupsOk,
    LookupsFailed,
    LookupsDisagreement,
    Changes,
    MailsSent,
    MailsFailed,
    CommandsOk,
    CommandsFailed
};

// What the file says; the counters carry on from one record to the next.
struct State {
    bool success = false;
    qint64 lastSuccess = 0; // unix time, 0: never
    std::array<quint64, CommandsFailed + 1> counts{};
    std::optional<Info> info;
    QMap<QString, std::array<quint64, 2>> notices; // by channel: delivered, failed
};
const QString NoticesName = QStringLiteral("netquill_notices_total");
// Channels are few; a file naming more was not written by this program.
constexpr qsizetype MaxChannels = 64;

// Escaped as the text format asks. Cut first, and never between the halves of a surrogate pair: the
// exporter refuses a file with invalid UTF-8.
QString labelValue(const QString &value)
{
    qsizetype length = std::min(value.size(), MetricsFile::MaxLabelLength);
    if (length < value.size() && length > 0 && value.at(length - 1).isHighSurrogate())
        --length;
    QString escaped;
    for (QChar c : QStringView(value).left(length)) {
        if (c == u'\\')
            escaped += QStringLiteral("\\\\");
        else if (c == u'"')
            escaped += QStringLiteral("\\\"");
        else if (c == u'\n')
            escaped += QStringLiteral("\\n");
        else
            escaped += c;
    }
    return escaped;
}

const QString SuccessName = QStringLiteral("netquill_lookup_success");
const QString LastSuccessName = QStringLiteral("netquill_last_success_timestamp_seconds");

struct CounterSeries {
    const char *sample; // name and labels, as written
    const char *help;   // null: the same family as the series before
};
constexpr std::array<CounterSeries, CommandsFailed + 1> Counters{{
    {"netquill_lookups_total{result=\"ok\"}", "Lookups of the external address, by result."},
    {"netquill_lookups_total{result=\"failed\"}", nullptr},
    {"netquill_lookups_total{result=\"disagreement\"}", nullptr},
    {"netquill_address_changes_total", "Changes of the external address found by lookups."},
    {"netquill_mails_total{result=\"sent\"}", "Notice mails of an address change, by result."},
    {"netquill_mails_total{result=\"failed\"}", nullptr},
    {"netquill_commands_total{result=\"ok\"}", "Commands run on an address change, by result."},
    {"netquill_commands_total{result=\"failed\"}", nullptr},
}};

QString header(const QString &name, const QString &help, const char *type)
{
    return QStringLiteral("# HELP %1 %2\n# TYPE %1 %3\n").arg(name, help, QLatin1String(type));
}

QByteArray format(const State &state)
{
    QString text =
        header(SuccessName, QStringLiteral("Whether the last lookup found the external address."), "gauge") +
        SuccessName + (state.success ? QStringLiteral(" 1\n") : QStringLiteral(" 0\n"));
    text += header(LastSuccessName,
                   QStringLiteral("When a lookup last found the external address, in unix time."), "gauge") +
            LastSuccessName + u' ' + QString::number(state.lastSuccess) + u'\n';
    for (qsizetype i = 0; i < qsizetype(Counters.size()); ++i) {
        const QString sample = QLatin1String(Counters[i].sample);
        if (Counters[i].help)
            text += header(sample.section(u'{', 0, 0), QLatin1String(Counters[i].help), "counter");
        text += sample + u' ' + QString::number(state.counts[i]) + u'\n';
    }
    if (!state.notices.isEmpty())
        text += header(NoticesName,
                       QStringLiteral("Notices through each channel beyond the mail, by result."), "counter");
    for (auto it = state.notices.cbegin(); it != state.notices.cend(); ++it)
        for (int i = 0; i < 2; ++i)
            text +=
                NoticesName + QStringLiteral("{channel=\"") + labelValue(it.key()) +
                (i == 0 ? QStringLiteral("\",result=\"sent\"} ") : QStringLiteral("\",result=\"failed\"} ")) +
                QString::number(it.value()[i]) + u'\n';
    text += header(InfoName,
                   QStringLiteral("The current external address, its family and the source that gave it."),
                   "gauge");
    // One series only, whatever addresses came before: a label set per past address would pile up.
    if (state.info)
        text += QStringLiteral("%1{address=\"%2\",family=\"%3\",source=\"%4\"} 1\n")
                    .arg(InfoName, labelValue(state.info->address), labelValue(state.info->family),
                         labelValue(state.info->source));
    return text.toUtf8();
}

struct Sample {
    QString name;
    QList<std::pair<QString, QString>> labels; // unescaped values
    QString value;
};

bool nameChar(QChar c, bool first)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' || c == u':' ||
           (!first && c >= u'0' && c <= u'9');
}

// One sample line: name, optional {labels}, value, optional timestamp. Nullopt with `why` when it is
// none.
std::optional<Sample> parseSample(QStringView line, QString &why)
{
    Sample sample;
    qsizetype i = 0;
    const auto word = [&] {
        const qsizetype start = i;
        while (i < line.size() && nameChar(line[i], i == start))
            ++i;
        return line.mid(start, i - start).toString();
    };
    sample.name = word();
    if (sample.name.isEmpty()) {
        why = QStringLiteral("no series name");
        return std::nullopt;
    }
    if (i < line.size() && line[i] == u'{') {
        for (++i; i < line.size() && line[i] != u'}';) {
            const QString label = word();
            if (label.isEmpty() || i + 1 >= line.size() || line[i] != u'=' || line[i + 1] != u'"') {
                why = QStringLiteral("a malformed label");
                return std::nullopt;
            }
            QString value;
            for (i += 2; i < line.size() && line[i] != u'"'; ++i) {
                if (line[i] != u'\\') {
                    value += line[i];
                    continue;
                }
                const QChar next = ++i < line.size() ? line[i] : QChar();
                if (next != u'\\' && next != u'"' && next != u'n') {
                    why = QStringLiteral("an invalid escape in a label value");
                    return std::nullopt;
                }
                value += next == u'n' ? QChar(u'\n') : next;
            }
            if (i >= line.size()) {
                why = QStringLiteral("an unterminated label value");
                return std::nullopt;
            }
            ++i; // the closing quote
            sample.labels.append({label, value});
            if (i < line.size() && line[i] == u',')
                ++i;
            else if (i < line.size() && line[i] != u'}') {
                why = QStringLiteral("a malformed label list");
                return std::nullopt;
            }
        }
        if (i >= line.size()) {
            why = QStringLiteral("an unterminated label list");
            return std::nullopt;
        }
        ++i; // the closing brace
    }
    if (i < line.size() && line[i] != u' ' && line[i] != u'\t') {
        why = QStringLiteral("text after the series name");
        return std::nullopt;
    }
    const QStringList rest = line.mid(i).toString().simplified().split(u' ', Qt::SkipEmptyParts);
    if (rest.isEmpty() || rest.size() > 2) {
        why = QStringLiteral("no single value");
        return std::nullopt;
    }
    sample.value = rest.first();
    return sample;
}

// The state the previous file holds; nullopt with `why` when it holds something else.
std::optional<State> parse(const QByteArray &data, QString &why)
{
    State state;
    // Where each numeric series goes: a counter's index, or one of these.
    constexpr qsizetype Success = -1, LastSuccess = -2;
    QHash<QString, qsizetype> places{{SuccessName, Success}, {LastSuccessName, LastSuccess}};
    for (qsizetype i = 0; i < qsizetype(Counters.size()); ++i)
        places.insert(QLatin1String(Counters[i].sample), i);
    QSet<qsizetype> seen;
    const QStringList lines = QString::fromUtf8(data).split(u'\n');
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const QString line = lines.at(n).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const auto fail = [&](const QString &what) {
            why = QStringLiteral("line %1 holds %2").arg(n + 1).arg(what);
            return std::nullopt;
        };
        QString problem;
        const std::optional<Sample> sample = parseSample(line, problem);
        if (!sample)
            return fail(problem);
        if (!sample->name.startsWith(QStringLiteral("netquill_")))
            return fail(sample->name + QStringLiteral(", no series of this program"));
        if (sample->name == InfoName) {
            const auto &labels = sample->labels;
            if (state.info || labels.size() != 3 || labels[0].first != u"address" ||
                labels[1].first != u"family" || labels[2].first != u"source" || sample->value != u"1")
                return fail(QStringLiteral("a second or malformed ") + InfoName);
            state.info = Info{labels[0].second, labels[1].second, labels[2].second};
            continue;
        }
        if (sample->name == NoticesName) {
            const auto &labels = sample->labels;
            bool ok = false;
            const quint64 value = sample->value.toULongLong(&ok);
            const qsizetype result =
                labels.size() == 2
                    ? QStringList{QStringLiteral("sent"), QStringLiteral("failed")}.indexOf(labels[1].second)
                    : -1;
            if (!ok || result < 0 || labels[0].first != u"channel" || labels[1].first != u"result" ||
                (!state.notices.contains(labels[0].second) && state.notices.size() >= MaxChannels))
                return fail(QStringLiteral("a malformed ") + NoticesName);
            state.notices[labels[0].second][result] = value;
            continue;
        }
        QString key = sample->name;
        if (!sample->labels.isEmpty()) {
            QStringList labels;
            for (const auto &[name, value] : sample->labels)
                labels.append(name + QStringLiteral("=\"") + labelValue(value) + u'"');
            key += u'{' + labels.join(u',') + u'}';
        }
        // A series this program does not know is a newer version's: passed over, not damage.
        const auto place = places.constFind(key);
        if (place == places.cend())
            continue;
        bool ok = false;
        const quint64 value = sample->value.toULongLong(&ok);
        if (!ok || seen.contains(*place) || (*place == Success && value > 1) ||
            (*place == LastSuccess && value > quint64(std::numeric_limits<qint64>::max())))
            return fail(QStringLiteral("a repeated or impossible value of ") + key);
        seen.insert(*place);
        if (*place == Success)
            state.success = value == 1;
        else if (*place == LastSuccess)
            state.lastSuccess = qint64(value);
        else
            state.counts[*place] = value;
    }
    return state;
}

// The state the last record left: a fresh one when there is no file yet, or when Netquill's own cannot
// be trusted. Nullopt with `why` for what must be left alone: a symbolic link, which another user of a
// shared folder could point at any file of the owner's, and anything Netquill did not write, which its
// first line tells.
std::optional<State> previous(const QString &path, QString &why)
{
    const std::optional<WholeFile::Entry> entry = WholeFile::readEntry(path, MetricsFile::MaxBytes, why);
    if (!entry)
        return std::nullopt;
    if (entry->missing || entry->data.isEmpty())
        return State{};
    if (!entry->data.startsWith("# HELP " + SuccessName.toLatin1() + ' ')) {
        why = QStringLiteral("%1 was not written by Netquill: its first line is not \"# HELP %2 ...\"")
                  .arg(QFileInfo(path).fileName(), SuccessName);
        return std::nullopt;
    }
    QString damage = QStringLiteral("it is larger than %1 MiB").arg(MetricsFile::MaxBytes >> 20);
    std::optional<State> state = entry->cut ? std::nullopt : parse(entry->data, damage);
    if (!state) {
        qCWarning(lcMetrics).noquote()
            << "cannot carry the counters on from" << path << "-" << damage << "- counting from 0";
        return State{};
    }
    return state;
}

void apply(State &state, const MetricsEvent &event)
{
    using Kind = MetricsEvent::Kind;
    switch (event.kind) {
    case Kind::LookupOk:
        state.lastSuccess =
            (event.when.isValid() ? event.when : QDateTime::currentDateTimeUtc()).toSecsSinceEpoch();
        state.info = Info{event.address, MetricsFile::family(event.address), event.source};
        if (event.changed)
            ++state.counts[Changes];
        ++state.counts[LookupsOk];
        break;
    case Kind::LookupFailed:
        ++state.counts[LookupsFailed];
        break;
    case Kind::LookupDisagreement:
        ++state.counts[LookupsDisagreement];
        break;
    case Kind::MailSent:
        ++state.counts[MailsSent];
        break;
    case Kind::MailFailed:
        ++state.counts[MailsFailed];
        break;
    case Kind::CommandOk:
        ++state.counts[CommandsOk];
        break;
    case Kind::CommandFailed:
        ++state.counts[CommandsFailed];
        break;
    case Kind::NoticeSent:
    case Kind::NoticeFailed:
        ++state.notices[event.source.left(MetricsFile::MaxLabelLength)]
                       [event.kind == Kind::NoticeSent ? 0 : 1];
        break;
    }
    // A disagreement found no address either: the sources did not agree on it.
    if (event.kind == Kind::LookupOk || event.kind == Kind::LookupFailed ||
        event.kind == Kind::LookupDisagreement)
        state.success = event.kind == Kind::LookupOk;
}

// The new file under a temporary name in the same folder, renamed over the old one once all of it is
// written and synced (the counters carry on from it): the exporter never reads a part of it. The
// exporter runs as a user of its own, so the file is readable by all whatever the umask.
// The rename replaces the name itself, never a link's target: a link planted after previous() looked
// is replaced, and the file it points at is neither read nor written.
bool replace(const QString &path, const QByteArray &data, QString &error)
{
    return WholeFile::replaceEntry(path, data,
                                   QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                                       QFileDevice::ReadOther,
                                   error);
}
} // namespace

MetricsFile::MetricsFile(QString path) : m_path(std::move(path)) {}

QString MetricsFile::family(const QString &address)
{
    QHostAddress parsed;
    if (!parsed.setAddress(address))
        return {};
    // "127.1" and "010.0.0.1" parse too, but no source answers so; a scope ("fe80::1%eth0") is no
    // external address.
    if (parsed.protocol() == QAbstractSocket::IPv4Protocol)
        return parsed.toString() == address ? QStringLiteral("ipv4") : QString();
    if (parsed.protocol() == QAbstractSocket::IPv6Protocol && parsed.scopeId().isEmpty())
        return QStringLiteral("ipv6");
    return {};
}

bool MetricsFile::record(const MetricsEvent &event, QString *error) const
{
    QString why;
    std::optional<State> state = previous(m_path, why);
    if (state) {
        apply(*state, event);
        if (replace(m_path, format(*state), why))
            return true;
    }
    qCWarning(lcMetrics).noquote() << "cannot write" << m_path << "-" << why;
    if (error)
        *error = why;
    return false;
}
