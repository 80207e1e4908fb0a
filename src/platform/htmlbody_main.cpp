// Reads an HTML document (UTF-8) from standard input and writes its body's inner HTML (UTF-8) to
// standard output. Exit status 0 only when the whole result was written; 2 when it would be longer
// than the bound given as "--max-bytes=N", which stops the work as early as it can.
#include "HtmlBody.h"

#include <cstdio>
#include <cstring>
#include <limits>

int main(int argc, char **argv)
{
    qsizetype maxBytes = std::numeric_limits<qsizetype>::max();
    constexpr char MaxOption[] = "--max-bytes=";
    if (argc > 1 && std::strncmp(argv[1], MaxOption, sizeof MaxOption - 1) == 0) {
        bool ok = false;
        maxBytes = QByteArray(argv[1] + sizeof MaxOption - 1).toLongLong(&ok);
        if (!ok || maxBytes < 0)
            return 1;
    }

    QByteArray document;
    char buffer[16384];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0)
        document.append(buffer, qsizetype(n));
    if (std::ferror(stdin))
        return 1;
    const std::optional<QString> html = HtmlBody::innerHtml(document, maxBytes);
    if (!html)
        return 2;
    const QByteArray body = html->toUtf8();
    if (std::fwrite(body.constData(), 1, size_t(body.size()), stdout) != size_t(body.size()))
        return 1;
    return std::fflush(stdout) == 0 ? 0 : 1;
}
