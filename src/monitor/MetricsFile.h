#pragma once

#include <QDateTime>
#include <QString>

/// What just happened, for the metrics file: a lookup, a notice mail or a change command that ended.
struct MetricsEvent {
    enum class Kind {
        LookupOk,           ///< a source gave the external address
        LookupFailed,       ///< every source failed
        LookupDisagreement, ///< sources gave different new addresses and no majority: nothing changes
        MailSent,
        MailFailed,
        CommandOk,
        CommandFailed,
        NoticeSent,   ///< a notice channel (named in `source`) delivered a notice
        NoticeFailed, ///< a notice channel gave up on one
    };
    Kind kind = Kind::LookupOk;
    QDateTime when;       ///< LookupOk: when it ended, the last success time; unset is now
    bool changed = false; ///< LookupOk: the external address differs from the one stored before
    QString address;      ///< LookupOk: the external address text as the source gave it
    QString source;       ///< LookupOk: the source that gave it, as the windows name it; Notice*: the channel

    /// An event that carries nothing but its kind.
    static MetricsEvent of(Kind kind)
    {
        MetricsEvent event;
        event.kind = kind;
        return event;
    }
};

/// A Prometheus text-format file for node_exporter's textfile collector: whether the last lookup went
/// well, when one last did, counters of lookups, address changes, mails and commands by result, and
/// the current external address as the labels of one info series.
/// Each record reads the counters the last record left, from this process or another (the service
/// run from cron with --once counts on across runs), and replaces the whole file: the exporter, which
/// may read it at any moment, sees the old file or the new one, never a part. A previous file of
/// Netquill's own that is too large or damaged is logged and counting starts again from 0; a symbolic
/// link, or a file Netquill did not write, is left as it is and nothing is written.
/// One process writes at a time: the caller sees to that.
class MetricsFile {
public:
    /// A larger previous file is not read.
    static constexpr qint64 MaxBytes = 1024 * 1024;
    /// A longer label value (a page's body taken for the address) is cut to this many characters.
    static constexpr qsizetype MaxLabelLength = 64;

    /// `path` should end in ".prom" (isMetricsName), in the folder the exporter reads; the folder must
    /// exist.
    explicit MetricsFile(QString path);
    /// Whether the name is one the exporter reads, and so one given for this file, not for another.
    static bool isMetricsName(const QString &path) { return path.endsWith(QLatin1String(".prom")); }
    QString path() const { return m_path; }

    /// Applies the event to the counters of the file and writes it again, readable by all (0644).
    /// False (logged, with the reason in *error) when the file could not or must not be written; it is
    /// then as it was.
    bool record(const MetricsEvent &event, QString *error = nullptr) const;

    /// "ipv4" or "ipv6" for a bare address in its usual form, else "".
    static QString family(const QString &address);

private:
    QString m_path;
};
