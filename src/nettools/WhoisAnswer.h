#pragma once

#include <QString>

/// The text a whois server sends, gathered piece by piece up to a bound, as the whois window shows it.
class WhoisAnswer {
public:
    /// Word wrapping costs time that grows with the square of a line's length: past this length a
    /// line wraps anywhere, so that a hostile answer of one endless line cannot freeze the window.
    static constexpr qsizetype LongLine = 16 * 1024;

    explicit WhoisAnswer(qsizetype maxLength) : m_maxLength(maxLength) {}

    /// Appends received text up to the bound; false when the text went past it.
    bool take(const QString &data);
    void clear() { m_text.clear(); }
    const QString &text() const { return m_text; }
    /// Whether the text holds a line too long to wrap at word boundaries.
    bool needsWrapAnywhere() const { return longestLine(m_text) > LongLine; }

    /// The length of the longest line, lines ending at CR or LF.
    static qsizetype longestLine(const QString &text);

private:
    qsizetype m_maxLength;
    QString m_text;
};
