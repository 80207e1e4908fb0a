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

bool SmtpReply::IsComplete(const QString &text)
{
    if (!text.endsWith(QLatin1String("\r\n")))
        return false;
    const qsizetype previous = text.lastIndexOf(QLatin1String("\r\n"), text.size() - 3);
    const QStringView last = QStringView(text).mid(previous < 0 ? 0 : previous + 2);
    const auto digit = [](QChar ch) { return ch >= u'0' && ch <= u'9'; };
    const bool continues =
        last.size() >= 4 && digit(last[0]) && digit(last[1]) && digit(last[2]) && last[3] == u'-';
    return !continues;
}

QStringList SmtpReply::Extensions(const QString &reply)
{
    QStringList lines = reply.split(QLatin1String("\r\n"), Qt::SkipEmptyParts);
    QStringList extensions;
    for (qsizetype i = 1; i < lines.size(); ++i)
        extensions << lines[i].mid(4).trimmed().toUpper();
    return extensions;
}

QStringList SmtpReply::AuthMechanisms(const QStringList &extensions)
{
    QStringList mechanisms;
    for (const QString &extension : extensions) {
        if (extension.size() > 4 && extension.startsWith(QLatin1String("AUTH")) &&
            (extension[4] == u' ' || extension[4] == u'='))
            mechanisms << extension.mid(5).split(u' ', Qt::SkipEmptyParts);
    }
    return mechanisms;
}
