#include "SmtpReply.h"

#include <limits>

int SmtpReply::LeadingNumber(const QString &text)
{
    constexpr qint64 Max = std::numeric_limits<int>::max();
    qint64 value = 0;
    for (const QChar ch : text) {
        if (ch < u'0' || ch > u'9')
            break;
        value = std::min(Max, value * 10 + (ch.unicode() - u'0'));
    }
    return static_cast<int>(value);
}

int SmtpReply::Code(const QString &reply)
{
    const qsizetype blank = reply.indexOf(u' ');
    return LeadingNumber(blank < 0 ? reply : reply.left(blank));
}

bool SmtpReply::EndsWithLineEnd(const QString &text)
{
    return text.endsWith(QLatin1String("\r\n"));
}
