#include "PlainBody.h"

std::optional<QString> PlainBody::innerHtml(const QByteArray &utf8Document)
{
    QByteArray text = utf8Document;
    if (text.startsWith("\xEF\xBB\xBF"))
        text.remove(0, 3);
    // Printable ASCII and the white space the parser keeps as it is; anything else may be rewritten.
    for (const char c : text) {
        const bool plain =
            (c >= 0x20 && c <= 0x7E && c != '<' && c != '&') || c == '\t' || c == '\n' || c == '\f';
        if (!plain)
            return std::nullopt;
    }
    // White space before the first character belongs to no element.
    qsizetype start = 0;
    while (start < text.size() &&
           (text[start] == ' ' || text[start] == '\t' || text[start] == '\n' || text[start] == '\f'))
        ++start;
    return QString::fromLatin1(text.mid(start)).replace(QLatin1Char('>'), QLatin1String("&gt;"));
}
