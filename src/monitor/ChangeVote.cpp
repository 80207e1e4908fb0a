#include "ChangeVote.h"

#include "SourceAnswer.h"

namespace {
// The product's page may give an IPv4 address in its IPv6-mapped form: still one of the IPv4 family.
bool isIPv4(const QHostAddress &address)
{
    bool ok = false;
    address.toIPv4Address(&ok);
    return ok;
}
} // namespace

ChangeVote::ChangeVote(const QString &first, const QString &source)
{
    m_answers.append({QHostAddress(first), first, source});
}

bool ChangeVote::add(const QString &text, const QString &source, IpSource::Family family)
{
    const QHostAddress address(text);
    const bool sameFamily = isIPv4(address) == isIPv4(m_answers.first().address);
    if (!SourceAnswer::isAddress(text) || (!sameFamily && family != IpSource::Family::Any))
        return false;
    m_answers.append({address, text, source});
    return true;
}

int ChangeVote::votes(const QHostAddress &address) const
{
    return int(std::count_if(m_answers.cbegin(), m_answers.cend(),
                             [&](const Answer &answer) { return answer.address.isEqual(address); }));
}

ChangeVote::Verdict ChangeVote::verdict() const
{
    for (const Answer &answer : m_answers) {
        if (votes(answer.address) * 2 > m_answers.size() && m_answers.size() > 1)
            return Verdict::Confirmed;
    }
    return m_answers.size() > MaxOthers ? Verdict::Disagreed : Verdict::Open;
}

const ChangeVote::Answer &ChangeVote::winner() const
{
    for (const Answer &answer : m_answers) {
        if (votes(answer.address) * 2 > m_answers.size())
            return answer;
    }
    return m_answers.first();
}

QStringList ChangeVote::agreeing() const
{
    QStringList sources;
    const QHostAddress address = winner().address;
    for (const Answer &answer : m_answers) {
        if (answer.address.isEqual(address))
            sources.append(answer.source);
    }
    return sources;
}

QString ChangeVote::answers() const
{
    QStringList parts;
    for (const Answer &answer : m_answers)
        parts.append(answer.text + QStringLiteral(" (") + answer.source + u')');
    return parts.join(QStringLiteral(", "));
}
