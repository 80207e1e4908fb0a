#include "WhoisAnswer.h"

bool WhoisAnswer::take(const QString &data)
{
    const qsizetype room = m_maxLength - m_text.size();
    m_text += data.left(room);
    return data.size() <= room;
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
