#pragma once

#include "IpSource.h"

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

/// Whether a new external address is confirmed by other sources before anything acts on it: the first
/// answer and up to MaxOthers more, compared as addresses; the majority decides. An answer of the other
/// family counts against the first when its source could have given either family.
class ChangeVote {
public:
    struct Answer {
        QHostAddress address;
        QString text;   ///< as the source gave it
        QString source; ///< as the windows name it
    };
    enum class Verdict {
        Open,      ///< ask another source, if there is one
        Confirmed, ///< a majority: winner()
        Disagreed, ///< no majority can come
    };
    static constexpr int MaxOthers = 2;

    /// first must be a bare address (SourceAnswer::isAddress).
    ChangeVote(const QString &first, const QString &source);

    /// Takes another source's answer; false when it does not count: not an address, or of the other
    /// family than the first from a source tied to that family, which could not have given the first's.
    bool add(const QString &text, const QString &source, IpSource::Family family);
    Verdict verdict() const;
    /// After the sources ran out: the first answer stands alone (no other source answered).
    bool unanswered() const { return m_answers.size() == 1; }
    /// The answer of the majority, or the first while there is none.
    const Answer &winner() const;
    /// The sources that gave the winner's address, the first of them first.
    QStringList agreeing() const;
    /// Each answer and its source, for the status line: "203.0.113.7 (a), 198.51.100.2 (b)".
    QString answers() const;

private:
    int votes(const QHostAddress &address) const;

    QList<Answer> m_answers;
};
