#pragma once

#include "IpSnapshot.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QLoggingCategory>
#include <QString>
#include <QStringList>
#include <optional>

/// Writing and reading the history of addresses and outages ("netquill.history").
Q_DECLARE_LOGGING_CATEGORY(lcHistory)

/// The history file: one CSV line per event (UTC time, event, old value, new value or status text,
/// source), appended with a single write and kept under MaxBytes by dropping the oldest lines.
/// The desktop program and the service share the file: an append, and the trim it may start, hold an
/// advisory lock on "<file>.lock" beside it. The file may be edited, damaged or missing: reading skips
/// what it cannot parse, and a failed write is logged and never stops a lookup.
class AddressHistory {
public:
    /// Disagree: sources gave different new external addresses; the old value is the stored one and
    /// the new value the status text with every answer.
    /// Unsent: a notice channel gave up on a notice; the old value is the channel, the new one the cause.
    enum class Kind { Internal, External, Failing, Working, Disagree, Unsent };
    struct Event {
        QDateTime when; // UTC
        Kind kind = Kind::External;
        QString oldValue;
        QString newValue; // the new address, or the status text for Failing and Working
        QString source;

        bool operator==(const Event &) const = default;
    };

    /// Past this size the oldest lines are dropped, down to TrimmedBytes, so that a trim is rare.
    static constexpr qint64 MaxBytes = 1024 * 1024;
    static constexpr qint64 TrimmedBytes = MaxBytes - MaxBytes / 16;
    /// A longer value (a page's markup kept as the address) is cut to this many characters.
    static constexpr qsizetype MaxValueLength = 512;

    /// $XDG_STATE_HOME/Netquill/history.csv, else ~/.local/state/Netquill/history.csv; empty (said once in
    /// the log) without either folder: then nothing is read or written.
    static QString defaultPath();

    /// `maxBytes` other than MaxBytes is for tests, to make trims frequent.
    explicit AddressHistory(QString path = defaultPath(), qint64 maxBytes = MaxBytes);
    QString path() const { return m_path; }

    /// A lookup ended well, with the stored addresses it compared against: "working" when lookups
    /// were failing, then one line per address that changed. A field that was "0" (none recorded
    /// yet) is no change.
    void lookupCompleted(const IpSnapshot &previous, const IpSnapshot &current, const QString &source);
    /// All sources failed: "failing" with the status text, once per outage.
    void lookupFailed(const QString &status);
    /// The sources gave no majority for a new address: "disagree", at every such lookup.
    void sourcesDisagreed(const QString &stored, const QString &status);
    /// A notice channel failed at its last try: "unsent", with the channel and the cause.
    void noticeUnsent(const QString &channel, const QString &cause);

    /// Appends one event; false (logged) when the file could not be written. A file past the bound whose
    /// newest part holds nothing readable is renamed to "<file>.damaged-<UTC time>" (logged) and a new
    /// one started, instead of being cut down to the new line.
    bool append(const Event &event) const;

    /// The events in file order (oldest first); damaged lines are skipped and reported once in the log.
    static QList<Event> read(const QString &path = defaultPath());
    /// Empties the file; false (logged, with the reason in *error) when it could not.
    static bool clear(const QString &path = defaultPath(), QString *error = nullptr);

    /// The short fixed word in the file: internal, external, failing, working, disagree, unsent.
    static QString kindName(Kind kind);
    static std::optional<Kind> kindFromName(QStringView name);

    /// One CSV record with its line end, quoted as RFC 4180 asks.
    static QByteArray formatLine(const Event &event);

    /// One line per event for a terminal: control characters are shown as spaces.
    static QStringList textLines(const QList<Event> &events);
    /// A JSON array of {"time","event","old","new","source"} objects.
    static QByteArray json(const QList<Event> &events);

private:
    void trim(qint64 size, const QByteArray &line) const;
    void setAside(const QByteArray &line) const;
    bool failing();

    QString m_path;
    qint64 m_maxBytes;
    std::optional<bool> m_failing; // read from the file at the first lookup
};
