#include "WhoisAnswer.h"

#include <QStringDecoder>

bool WhoisAnswer::take(const QByteArray &data)
{
    const qsizetype room = m_maxBytes - m_bytes.size();
    m_bytes += data.left(room);
    m_cutShort = m_cutShort || data.size() > room;
    return !m_cutShort;
}

void WhoisAnswer::clear()
{
    m_bytes.clear();
    m_cutShort = false;
}

QString WhoisAnswer::text() const
{
    // Most servers answer in UTF-8 now; older ones in an 8-bit set, which is almost never valid UTF-8.
    // Stateful, the decoder keeps a character cut at the bound back rather than calling it an error.
    QStringDecoder utf8(QStringConverter::Utf8,
                        m_cutShort ? QStringConverter::Flag::Default : QStringConverter::Flag::Stateless);
    const QString text = utf8.decode(m_bytes);
    return utf8.hasError() ? QString::fromLatin1(m_bytes) : text;
}

qsizetype WhoisAnswer::longestLine(const QString &text)
{
    qsizetype longest = 0;
    qsizetype current = 0;
    for (const QChar ch : text) {
        if (ch == QLatin1Char('\n') || ch == QLatin1Char('\r')) {
            current = 0;
        } else if (++current > longest) {
            longest = current;
        }
    }
    return longest;
}
