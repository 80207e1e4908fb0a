// libFuzzer target: the reply code a mail server's bytes give, read as the session reads them
// (8-bit text), and the port number of a mail setting (any text), must be the number written there,
// saturating instead of wrapping round; whether gathered text is a whole reply must match its lines.

#include "SmtpReply.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

namespace {

// What the leading number must be, worked out another way: the digits as a decimal string.
int expectedLeadingNumber(const QString &text)
{
    std::string digits;
    for (const QChar ch : text) {
        if (ch.unicode() < u'0' || ch.unicode() > u'9')
            break;
        digits += char(ch.unicode());
    }
    const std::size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos)
        return 0;
    digits.erase(0, first);
    if (digits.size() > 10)
        return std::numeric_limits<int>::max();
    long long value = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return int(std::min<long long>(value, std::numeric_limits<int>::max()));
}

void check(const QString &text)
{
    const int number = SmtpReply::LeadingNumber(text);
    if (number != expectedLeadingNumber(text))
        std::abort();
    const qsizetype blank = text.indexOf(u' ');
    if (SmtpReply::Code(text) != expectedLeadingNumber(blank < 0 ? text : text.left(blank)))
        std::abort();
    // Whole when it ends a line and that line is not "ddd-...", worked out from the split lines.
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    const bool lineEnd = lines.size() > 1 && lines.back().isEmpty();
    const bool continues =
        lineEnd &&
        QRegularExpression(QStringLiteral("\\A[0-9]{3}-")).match(lines[lines.size() - 2]).hasMatch();
    if (SmtpReply::IsComplete(text) != (lineEnd && !continues))
        std::abort();
    for (const QString &mechanism : SmtpReply::AuthMechanisms(SmtpReply::Extensions(text)))
        if (mechanism.isEmpty() || mechanism.contains(u' '))
            std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *bytes = reinterpret_cast<const char *>(data);
    check(QString::fromLatin1(bytes, qsizetype(size)));
    check(QString::fromUtf8(bytes, qsizetype(size)));
    // A reply arrives in pieces; the session tests each gathered text for its line end.
    QString gathered;
    for (const QString &piece : QString::fromLatin1(bytes, qsizetype(size)).split(u'\x7f')) {
        gathered += piece;
        check(gathered);
    }
    return 0;
}
