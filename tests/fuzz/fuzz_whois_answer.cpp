// libFuzzer target: a whois answer as the window gathers it, from pieces of 8-bit text of any size,
// must keep exactly the first bytes up to its bound and tell a line too long to wrap by words.
// Input: a byte for the bound (in steps of 256 bytes, so that inputs reach it), then the pieces, split at
// 0xFF.

#include "WhoisAnswer.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const qsizetype bound = qsizetype(data[0]) * 256;
    const QByteArray received(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    WhoisAnswer answer(bound);
    QByteArray sent;
    for (const QByteArray &piece : received.split('\xff')) {
        sent += piece;
        const bool taken = answer.take(QString::fromLatin1(piece));
        if (taken != (sent.size() <= bound))
            std::abort();
        // Once past the bound the window stops reading; until then nothing may be lost.
        if (!taken)
            break;
    }
    const QString expected = QString::fromLatin1(sent.left(bound));
    if (answer.text() != expected)
        std::abort();

    // The longest line, counted another way: the longest run between line ends.
    qsizetype longest = 0;
    for (const QByteArray &line : sent.left(bound).replace('\r', '\n').split('\n'))
        longest = std::max(longest, line.size());
    if (WhoisAnswer::longestLine(answer.text()) != longest ||
        answer.needsWrapAnywhere() != (longest > WhoisAnswer::LongLine))
        std::abort();
    return 0;
}
