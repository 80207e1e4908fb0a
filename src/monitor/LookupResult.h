#pragma once

#include "IpSnapshot.h"

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <optional>

/// How one lookup ended, handed by value to whatever acts on it: the history, the notice, the
/// command, the windows and the service.
struct LookupResult {
    enum class Outcome {
        Answered,     ///< a source gave the addresses in `current`
        Failed,       ///< every source failed; `cause` is the status shown
        NoAnswer,     ///< only the product's page answered, from another location: nothing changes
        Disagreement, ///< sources gave different new addresses and no majority: nothing changes;
                      ///< `cause` is the status shown
    };
    Outcome outcome = Outcome::NoAnswer;
    IpSnapshot current;  ///< the addresses found
    IpSnapshot previous; ///< the stored addresses they were compared against ("0": none yet)
    QString source;      ///< the source that answered, as the windows name it
    bool changed = false;
    /// Which of the two changed; a temporary IPv6 address replaced within its prefix is no change.
    bool externalChanged = false, internalChanged = false;
    /// The sources that gave the new address, when other sources were asked to confirm it.
    QStringList confirmedBy;
    QString cause;

    /// The IPv6 track's end, while IPv4 and IPv6 are followed apart; the fields above are then the IPv4
    /// track's, and `changed` is true when either family changed.
    struct IPv6 {
        Outcome outcome = Outcome::NoAnswer;
        bool absent = false; ///< the machine has no IPv6 route or no stable address: no outage
        IpSnapshot current, previous;
        QString source;
        bool changed = false, externalChanged = false, internalChanged = false;
        QString cause;
    };
    std::optional<IPv6> ipv6;

    bool answered() const { return outcome == Outcome::Answered; }
};
Q_DECLARE_METATYPE(LookupResult)
