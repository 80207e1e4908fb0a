#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <optional>

/// What one notice tells, whatever channel carries it: a change of address (old and new of each kind,
/// the source that answered and those that confirmed it), or a test the user asked for; for health
/// pings also that a lookup answered (Alive) or that an outage began (Failing).
struct Notice {
    enum class Event { Changed, Test, Alive, Failing };
    Event event = Event::Changed;
    QDateTime time; // UTC
    QString hostName;
    QString internalOld, internalNew;
    QString externalOld, externalNew;
    QString source;
    QStringList confirmedBy;
    /// While IPv4 and IPv6 are followed apart: the IPv6 addresses (the fields above are then IPv4's).
    struct IPv6 {
        QString internalOld, internalNew, externalOld, externalNew;
    };
    std::optional<IPv6> ipv6;

    /// One line for a title: "External address of HOST changed", or the test's.
    QString title() const;
    /// A few lines of plain text for a push message.
    QString text() const;
    /// The webhook's document, schema version 1 (see the README): event, time (ISO 8601, UTC), host,
    /// internal and external old and new, source, confirmedBy.
    QByteArray json() const;
};
Q_DECLARE_METATYPE(Notice)

/// How one send through a channel ended.
struct ChannelResult {
    quint64 job = 0;
    bool delivered = false;
    QString cause; // why not, in a few words for the log and the window; empty when delivered
};
Q_DECLARE_METATYPE(ChannelResult)
