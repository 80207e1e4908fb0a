// libFuzzer target: a whois answer as the window gathers it, from pieces of bytes of any size, must keep
// exactly the first bytes up to its bound, show them as UTF-8 when they are UTF-8 (a character cut by
// the bound aside) and as Latin-1 otherwise, and tell a line too long to wrap by words.
// Input: a byte for the bound (in steps of 256 bytes, so that inputs reach it), then the pieces, split at
// 0xFF.

#include "WhoisAnswer.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <cstdlib>

namespace {
/// The length of the well-formed UTF-8 sequence at bytes[at] (RFC 3629: no overlong forms, no
/// surrogates, nothing past U+10FFFF), 0 when there is none; -1 when the bytes end after a lead byte
/// and fewer continuation bytes (80 to BF) than it announces: a character the bound may have cut.
int sequenceAt(const QByteArray &bytes, qsizetype at)
{
    const auto byte = [&](qsizetype i) { return uint8_t(bytes.at(i)); };
    const uint8_t lead = byte(at);
    if (lead < 0x80)
        return 1;
    int length = 0;
    uint8_t low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    bool wellFormed = true;
    for (int i = 1; i < length; ++i) {
        if (at + i >= bytes.size())
            return -1;
        const uint8_t next = byte(at + i);
        if (next < 0x80 || next > 0xBF)
            return 0;
        wellFormed = wellFormed && (i > 1 || (next >= low && next <= high));
    }
    return wellFormed ? length : 0;
}

/// The text the window must show for bytes kept, cut or not at the bound.
QString expectedText(const QByteArray &bytes, bool cutShort)
{
    qsizetype at = 0;
    while (at < bytes.size()) {
        const int length = sequenceAt(bytes, at);
        if (length == 0 || (length < 0 && !cutShort))
            return QString::fromLatin1(bytes);
        if (length < 0)
            break; // a character cut by the bound: dropped
        at += length;
    }
    return QString::fromUtf8(bytes.left(at)); // drops a leading byte order mark, as the window does
}
} // namespace

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
        const bool taken = answer.take(piece);
        if (taken != (sent.size() <= bound) || answer.cutShort() == taken)
            std::abort();
        // Once past the bound the window stops reading; until then nothing may be lost.
        if (!taken)
            break;
    }
    const QString text = answer.text();
    if (text != expectedText(sent.left(bound), sent.size() > bound))
        std::abort();

    // The longest line, counted another way: the longest run between line ends.
    qsizetype longest = 0;
    for (const QString &line :
         QString(text).replace(QLatin1Char('\r'), QLatin1Char('\n')).split(QLatin1Char('\n')))
        longest = std::max(longest, line.size());
    if (WhoisAnswer::longestLine(text) != longest ||
        WhoisAnswer::needsWrapAnywhere(text) != (longest > WhoisAnswer::LongLine))
        std::abort();
    return 0;
}
