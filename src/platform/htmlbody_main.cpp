// Reads an HTML document (UTF-8) from standard input and writes its body's inner HTML (UTF-8) to
// standard output. Exit status 0 only when the whole result was written.
#include "HtmlBody.h"

#include <cstdio>

int main()
{
    QByteArray document;
    char buffer[16384];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0)
        document.append(buffer, qsizetype(n));
    if (std::ferror(stdin))
        return 1;
    const QByteArray body = HtmlBody::innerHtml(document).toUtf8();
    if (std::fwrite(body.constData(), 1, size_t(body.size()), stdout) != size_t(body.size()))
        return 1;
    return std::fflush(stdout) == 0 ? 0 : 1;
}
