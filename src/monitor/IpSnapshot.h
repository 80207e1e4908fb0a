#pragma once

#include <QString>

/// The internal and external address texts, compared and stored verbatim.
struct IpSnapshot {
    QString internal;
    QString external;

    /// "0" marks a field for which no address has been recorded yet.
    static inline const QString None = QStringLiteral("0");

    /// True when a field differs from a previous value that is not "0".
    bool changedSince(const IpSnapshot &previous) const
    {
        return (external != previous.external && previous.external != None) ||
               (internal != previous.internal && previous.internal != None);
    }
};
