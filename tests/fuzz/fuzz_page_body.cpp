// libFuzzer target: the external-IP page as the program handles it in its own process: the body
// decoded to UTF-8 by the charset of its Content-Type, and the body's inner HTML of a plain-text page
// worked out without the parser. Input: the Content-Type header, a NUL, then the body.

#include "PageBody.h"
#include "PlainBody.h"

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype nul = input.indexOf('\0');
    const QByteArray contentType = nul < 0 ? QByteArray() : input.left(nul);
    const QByteArray body = nul < 0 ? input : input.mid(nul + 1);

    // Whatever the server sends, the parser is given well-formed UTF-8.
    const QByteArray document = PageBody::asUtf8(body, contentType);
    QStringDecoder strict(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = strict.decode(document);
    if (strict.hasError())
        std::abort();

    if (const std::optional<QString> inner = PlainBody::innerHtml(document)) {
        // Taken without the parser only when there is no markup: the text itself, '>' escaped,
        // leading white space dropped.
        if (inner->contains(u'<') || inner->startsWith(u' ') || inner->startsWith(u'\n') ||
            inner->startsWith(u'\t') || inner->startsWith(u'\f'))
            std::abort();
        QString unescaped = *inner;
        unescaped.replace(QLatin1String("&gt;"), QLatin1String(">"));
        if (unescaped.contains(u'&') || !text.endsWith(unescaped))
            std::abort();
        const QString dropped = text.left(text.size() - unescaped.size());
        for (const QChar ch : dropped) {
            if (ch != u' ' && ch != u'\n' && ch != u'\t' && ch != u'\f' && ch != QChar(0xFEFF))
                std::abort();
        }
    }

    return 0;
}
