#pragma once

#include <QByteArray>
#include <QString>

/// The bytes a whois server sends, gathered piece by piece up to a bound, and the text the whois window
/// shows for them.
class WhoisAnswer {
public:
    /// Word wrapping costs time that grows with the square of a line's length: past this length a
    /// line wraps anywhere, so that a hostile answer of one endless line cannot freeze the window.
    static constexpr qsizetype LongLine = 16 * 1024;

    explicit WhoisAnswer(qsizetype maxBytes) : m_maxBytes(maxBytes) {}

    /// Appends received bytes up to the bound; false when they went past it.
    bool take(const QByteArray &data);
    void clear();
    /// Whether bytes beyond the bound were dropped.
    bool cutShort() const { return m_cutShort; }
    /// The answer as UTF-8 when its bytes are valid UTF-8, else as Latin-1 (one character per byte).
    /// A character cut in two by the bound does not count against UTF-8; its first bytes are dropped.
    QString text() const;
    /// Whether the text holds a line too long to wrap at word boundaries.
    static bool needsWrapAnywhere(const QString &text) { return longestLine(text) > LongLine; }

    /// The length of the longest line, lines ending at CR or LF.
    static qsizetype longestLine(const QString &text);

private:
    qsizetype m_maxBytes;
    QByteArray m_bytes;
    bool m_cutShort = false;
};
