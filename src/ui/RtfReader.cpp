#include "RtfReader.h"
#include "Twips.h"

#include <QColor>
#include <QHash>
#include <QStringDecoder>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

namespace {

// Bounds that keep hostile input from costing more than a real help file does.
constexpr qint64 MaxParameter = 1'000'000'000;
constexpr qsizetype MaxTableSize = 1024;
constexpr qsizetype MaxFontName = 128;
constexpr int MaxTwips = 32767;
constexpr int MinHalfPoints = 2;
constexpr int MaxHalfPoints = 2000;

enum class Destination { Text, FontTable, ColourTable, Skip };

struct CharProps {
    int font = -1; // -1: the document's default font (\deff)
    int halfPoints = 24;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    int colour = 0; // 0: the view's own text colour
    bool operator==(const CharProps &) const = default;
};

struct ParaProps { // twips
    int leftIndent = 0;
    int firstIndent = 0;
    int spaceBefore = 0;
    int spaceAfter = 0;
    Qt::Alignment alignment = Qt::AlignLeft;
};

struct GroupState {
    Destination destination = Destination::Text;
    CharProps chars;
    ParaProps para;
    int unicodeSkip = 1; // \uc: how many fallback characters follow each \u
};

enum class Word {
    Bold,
    Italic,
    Underline,
    UnderlineNone,
    FontSize,
    Font,
    Colour,
    Par,
    Line,
    Tab,
    Pard,
    Plain,
    Unicode,
    UnicodeSkip,
    CodePage,
    DefaultFont,
    FontTable,
    ColourTable,
    Red,
    Green,
    Blue,
    Binary,
    LeftIndent,
    FirstIndent,
    SpaceBefore,
    SpaceAfter,
    AlignLeft,
    AlignCentre,
    AlignRight,
    Justify,
    Symbol,
    SkippedDestination,
};

struct WordEntry {
    std::string_view name;
    Word word;
    char16_t symbol = 0;
};

constexpr Word Skipped = Word::SkippedDestination;

// Sorted by name, for the binary search.
constexpr std::array words{
    WordEntry{"ansicpg", Word::CodePage},
    WordEntry{"author", Skipped},
    WordEntry{"b", Word::Bold},
    WordEntry{"bin", Word::Binary},
    WordEntry{"bkmkend", Skipped},
    WordEntry{"bkmkstart", Skipped},
    WordEntry{"blue", Word::Blue},
    WordEntry{"bullet", Word::Symbol, u'\u2022'},
    WordEntry{"cf", Word::Colour},
    WordEntry{"colortbl", Word::ColourTable},
    WordEntry{"comment", Skipped},
    WordEntry{"creatim", Skipped},
    WordEntry{"datastore", Skipped},
    WordEntry{"deff", Word::DefaultFont},
    WordEntry{"doccomm", Skipped},
    WordEntry{"emdash", Word::Symbol, u'\u2014'},
    WordEntry{"emspace", Word::Symbol, u'\u2003'},
    WordEntry{"endash", Word::Symbol, u'\u2013'},
    WordEntry{"enspace", Word::Symbol, u'\u2002'},
    WordEntry{"f", Word::Font},
    WordEntry{"fi", Word::FirstIndent},
    WordEntry{"fldinst", Skipped},
    WordEntry{"fonttbl", Word::FontTable},
    WordEntry{"footer", Skipped},
    WordEntry{"footerf", Skipped},
    WordEntry{"footerl", Skipped},
    WordEntry{"footerr", Skipped},
    WordEntry{"footnote", Skipped},
    WordEntry{"fs", Word::FontSize},
    WordEntry{"ftncn", Skipped},
    WordEntry{"ftnsep", Skipped},
    WordEntry{"ftnsepc", Skipped},
    WordEntry{"green", Word::Green},
    WordEntry{"header", Skipped},
    WordEntry{"headerf", Skipped},
    WordEntry{"headerl", Skipped},
    WordEntry{"headerr", Skipped},
    WordEntry{"i", Word::Italic},
    WordEntry{"info", Skipped},
    WordEntry{"keywords", Skipped},
    WordEntry{"ldblquote", Word::Symbol, u'\u201C'},
    WordEntry{"li", Word::LeftIndent},
    WordEntry{"line", Word::Line},
    WordEntry{"listoverridetable", Skipped},
    WordEntry{"listtable", Skipped},
    WordEntry{"lquote", Word::Symbol, u'\u2018'},
    WordEntry{"object", Skipped},
    WordEntry{"operator", Skipped},
    WordEntry{"page", Word::Par},
    WordEntry{"par", Word::Par},
    WordEntry{"pard", Word::Pard},
    WordEntry{"pict", Skipped},
    WordEntry{"plain", Word::Plain},
    WordEntry{"pn", Skipped},
    WordEntry{"printim", Skipped},
    WordEntry{"private", Skipped},
    WordEntry{"qc", Word::AlignCentre},
    WordEntry{"qj", Word::Justify},
    WordEntry{"ql", Word::AlignLeft},
    WordEntry{"qr", Word::AlignRight},
    WordEntry{"rdblquote", Word::Symbol, u'\u201D'},
    WordEntry{"red", Word::Red},
    WordEntry{"revtbl", Skipped},
    WordEntry{"revtim", Skipped},
    WordEntry{"rquote", Word::Symbol, u'\u2019'},
    WordEntry{"rsidtbl", Skipped},
    WordEntry{"sa", Word::SpaceAfter},
    WordEntry{"sb", Word::SpaceBefore},
    WordEntry{"sect", Word::Par},
    WordEntry{"stylesheet", Skipped},
    WordEntry{"subject", Skipped},
    WordEntry{"tab", Word::Tab},
    WordEntry{"tc", Skipped},
    WordEntry{"title", Skipped},
    WordEntry{"u", Word::Unicode},
    WordEntry{"uc", Word::UnicodeSkip},
    WordEntry{"ul", Word::Underline},
    WordEntry{"ulnone", Word::UnderlineNone},
    WordEntry{"xe", Skipped},
    WordEntry{"xmlnstbl", Skipped},
};
constexpr bool byName(const WordEntry &a, const WordEntry &b)
{
    return a.name < b.name;
}
static_assert(std::is_sorted(words.begin(), words.end(), byName));

const WordEntry *findWord(std::string_view name)
{
    const auto it = std::lower_bound(words.begin(), words.end(), WordEntry{name, Word::Symbol}, byName);
    return it != words.end() && it->name == name ? &*it : nullptr;
}

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}
int hexValue(char c)
{
    if (isDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Windows-1252 0x80..0x9F; the five bytes Windows leaves undefined stand for the C1 controls, as
// ICU decodes them. Decoded here rather than through ICU, whose converter would keep about a
// megabyte of its code and tables in memory for the program's life, for one small table.
constexpr char16_t cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// QTextDocument gives some characters a structural meaning (block and frame separators, objects);
// text from a file must not forge them, nor carry control characters or lone surrogates.
QString sanitised(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            out += text.at(i);
            out += text.at(++i);
        } else if (c == u'\t' || c == QChar::LineSeparator) {
            out += QChar(c);
        } else if (c < 0x20 || c == 0x7F) {
            continue;
        } else if (QChar::isSurrogate(c) || c == QChar::ParagraphSeparator || c == 0xFDD0 || c == 0xFDD1 ||
                   c == QChar::ObjectReplacementCharacter || c >= 0xFFFE) {
            out += QChar::ReplacementCharacter;
        } else {
            out += QChar(c);
        }
    }
    return out;
}

class Reader {
public:
    Reader(const QByteArray &rtf, QTextCursor &cursor)
        : m_pos(rtf.constData() + 1), // the document group's brace: m_groups starts with that group
          m_end(rtf.constData() + rtf.size()), m_cursor(cursor)
    {
    }
    void run();

private:
    GroupState &state() { return m_groups.back(); }
    bool skipping() const { return m_overflow > 0 || m_groups.back().destination == Destination::Skip; }

    void openGroup();
    void closeGroup();
    void character(char c);
    void byte(char c);
    void controlWord();
    void controlSymbol(char c);
    void hexByte();
    void apply(const WordEntry &entry, bool hasParameter, int parameter);
    void symbol(char16_t c);
    void text(const QString &s);
    void paragraph();
    void flushBytes();
    void flushText();
    void finish();
    void setCodePage(int codePage);
    QString decode(const QByteArray &bytes);
    void storeFont();
    void storeColour();
    QTextCharFormat charFormat(const CharProps &p) const;
    static QTextBlockFormat blockFormat(const ParaProps &p);

    const char *m_pos;
    const char *m_end;
    std::vector<GroupState> m_groups = std::vector<GroupState>(1);
    int m_overflow = 0;    // groups opened beyond MaxGroupDepth; everything in them is skipped
    int m_pendingSkip = 0; // fallback characters of the last \u still to skip
    bool m_ended = false;

    QTextCursor &m_cursor;
    bool m_blockPending = false; // a \par ended the block; the next one starts when text follows
    QByteArray m_bytes;          // text bytes not yet decoded, so that multi-byte characters stay whole
    QString m_text;              // decoded text not yet inserted, all in m_textProps
    CharProps m_textProps;

    QStringDecoder m_decoder; // none: Windows-1252, decoded by decode() itself
    int m_defaultFont = 0;
    QHash<int, QString> m_fonts;
    int m_fontEntry = 0;
    QByteArray m_fontName;
    std::vector<QColor> m_colours;
    int m_red = 0;
    int m_green = 0;
    int m_blue = 0;
    bool m_colourGiven = false;
};

void Reader::run()
{
    while (m_pos < m_end && !m_ended) {
        const char c = *m_pos++;
        switch (c) {
        case '{':
            openGroup();
            break;
        case '}':
            closeGroup();
            break;
        case '\\':
            controlWord();
            break;
        case '\r':
        case '\n':
            break; // line ends in the file are not text
        default:
            character(c);
        }
    }
    finish();
}

void Reader::openGroup()
{
    flushBytes();
    m_pendingSkip = 0;
    if (m_overflow > 0 || int(m_groups.size()) >= RtfReader::MaxGroupDepth)
        ++m_overflow;
    else
        m_groups.push_back(m_groups.back());
}

void Reader::closeGroup()
{
    flushBytes();
    m_pendingSkip = 0;
    if (m_overflow > 0) {
        --m_overflow;
        return;
    }
    if (state().destination == Destination::FontTable)
        storeFont(); // a font entry may end with its group instead of ';'
    if (m_groups.size() == 1) {
        m_ended = true; // the document group closed; what follows is not part of the document
        return;
    }
    m_groups.pop_back();
}

void Reader::character(char c)
{
    if (m_pendingSkip > 0)
        --m_pendingSkip;
    else
        byte(c);
}

void Reader::byte(char c)
{
    if (m_overflow > 0)
        return;
    switch (state().destination) {
    case Destination::Text:
        m_bytes.append(c);
        break;
    case Destination::FontTable:
        if (c == ';')
            storeFont();
        else if (m_fontName.size() < MaxFontName)
            m_fontName.append(c);
        break;
    case Destination::ColourTable:
        if (c == ';')
            storeColour();
        break;
    case Destination::Skip:
        break;
    }
}

void Reader::controlWord()
{
    if (m_pos == m_end)
        return;
    if (!isLetter(*m_pos)) {
        controlSymbol(*m_pos++);
        return;
    }
    const char *start = m_pos;
    while (m_pos < m_end && isLetter(*m_pos))
        ++m_pos;
    const std::string_view name(start, size_t(m_pos - start));
    bool negative = false;
    if (m_end - m_pos >= 2 && *m_pos == '-' && isDigit(m_pos[1])) {
        negative = true;
        ++m_pos;
    }
    bool hasParameter = false;
    qint64 value = 0;
    while (m_pos < m_end && isDigit(*m_pos)) {
        hasParameter = true;
        value = std::min(value * 10 + (*m_pos++ - '0'), MaxParameter);
    }
    if (m_pos < m_end && *m_pos == ' ')
        ++m_pos; // the space that ends a control word is not text
    const int parameter = int(negative ? -value : value);

    const WordEntry *entry = findWord(name);
    if (entry && entry->word == Word::Binary) // raw bytes that may hold braces: never parse them
        m_pos += std::min<qint64>(std::max(parameter, 0), m_end - m_pos);
    if (m_pendingSkip > 0) {
        --m_pendingSkip;
        return;
    }
    if (!entry || skipping())
        return;
    flushBytes();
    apply(*entry, hasParameter, parameter);
}

void Reader::controlSymbol(char c)
{
    if (c == '\'') {
        hexByte();
        return;
    }
    if (m_pendingSkip > 0) {
        --m_pendingSkip;
        return;
    }
    switch (c) {
    case '\\':
    case '{':
    case '}':
        byte(c);
        break;
    case '~':
        symbol(u'\u00A0');
        break;
    case '-':
        symbol(u'\u00AD');
        break;
    case '_':
        symbol(u'\u2011');
        break;
    case '*':
        if (!skipping()) {
            flushBytes();
            state().destination = Destination::Skip; // none of the optional destinations is shown
        }
        break;
    case '\r':
    case '\n':
        paragraph(); // a backslash before a line end is \par
        break;
    default:
        break;
    }
}

void Reader::hexByte()
{
    int value = 0;
    int digits = 0;
    while (digits < 2 && m_pos < m_end && hexValue(*m_pos) >= 0) {
        value = value * 16 + hexValue(*m_pos++);
        ++digits;
    }
    if (digits == 2) // a broken escape is dropped with the one digit it has
        character(char(value));
}

void Reader::apply(const WordEntry &entry, bool hasParameter, int parameter)
{
    GroupState &s = state();
    switch (entry.word) {
    case Word::FontTable:
        s.destination = Destination::FontTable;
        m_fontName.clear();
        return;
    case Word::ColourTable:
        s.destination = Destination::ColourTable;
        return;
    case Word::SkippedDestination:
        s.destination = Destination::Skip;
        return;
    case Word::CodePage:
        setCodePage(parameter);
        return;
    case Word::DefaultFont:
        m_defaultFont = parameter;
        return;
    case Word::UnicodeSkip:
        s.unicodeSkip = std::max(parameter, 0);
        return;
    case Word::Unicode: {
        const int code = parameter < 0 ? parameter + 0x10000 : parameter; // negative: unsigned 16-bit
        if (s.destination == Destination::Text)
            text(QString(QChar(code >= 0 && code <= 0xFFFF ? char16_t(code) : u'\uFFFD')));
        m_pendingSkip = s.unicodeSkip;
        return;
    }
    case Word::Red:
    case Word::Green:
    case Word::Blue:
        if (s.destination == Destination::ColourTable) {
            const int v = std::clamp(parameter, 0, 255);
            (entry.word == Word::Red ? m_red : entry.word == Word::Green ? m_green : m_blue) = v;
            m_colourGiven = true;
        }
        return;
    case Word::Font:
        if (s.destination == Destination::FontTable)
            m_fontEntry = parameter;
        else
            s.chars.font = parameter;
        return;
    default:
        break;
    }
    if (s.destination != Destination::Text)
        return;
    const bool on = !hasParameter || parameter != 0;
    switch (entry.word) {
    case Word::Bold:
        s.chars.bold = on;
        break;
    case Word::Italic:
        s.chars.italic = on;
        break;
    case Word::Underline:
        s.chars.underline = on;
        break;
    case Word::UnderlineNone:
        s.chars.underline = false;
        break;
    case Word::FontSize:
        s.chars.halfPoints = std::clamp(hasParameter ? parameter : 24, MinHalfPoints, MaxHalfPoints);
        break;
    case Word::Colour:
        s.chars.colour = std::max(parameter, 0);
        break;
    case Word::Plain:
        s.chars = CharProps();
        break;
    case Word::Pard:
        s.para = ParaProps();
        break;
    case Word::LeftIndent:
        s.para.leftIndent = std::clamp(parameter, 0, MaxTwips);
        break;
    case Word::FirstIndent:
        s.para.firstIndent = std::clamp(parameter, -MaxTwips, MaxTwips);
        break;
    case Word::SpaceBefore:
        s.para.spaceBefore = std::clamp(parameter, 0, MaxTwips);
        break;
    case Word::SpaceAfter:
        s.para.spaceAfter = std::clamp(parameter, 0, MaxTwips);
        break;
    case Word::AlignLeft:
        s.para.alignment = Qt::AlignLeft;
        break;
    case Word::AlignCentre:
        s.para.alignment = Qt::AlignHCenter;
        break;
    case Word::AlignRight:
        s.para.alignment = Qt::AlignRight;
        break;
    case Word::Justify:
        s.para.alignment = Qt::AlignJustify;
        break;
    case Word::Par:
        paragraph();
        break;
    case Word::Line:
        text(QString(QChar(QChar::LineSeparator)));
        break;
    case Word::Tab:
        text(QStringLiteral("\t"));
        break;
    case Word::Symbol:
        text(QString(QChar(entry.symbol)));
        break;
    default:
        break;
    }
}

void Reader::symbol(char16_t c)
{
    if (skipping() || state().destination != Destination::Text)
        return;
    flushBytes();
    text(QString(QChar(c)));
}

void Reader::text(const QString &s)
{
    if (m_blockPending) {
        m_cursor.insertBlock();
        m_blockPending = false;
    }
    const CharProps &props = state().chars;
    if (!m_text.isEmpty() && !(props == m_textProps))
        flushText();
    m_textProps = props;
    m_text += s;
}

void Reader::paragraph()
{
    if (skipping() || state().destination != Destination::Text)
        return;
    flushBytes();
    if (m_blockPending) {
        m_cursor.insertBlock();
        m_blockPending = false;
    }
    flushText();
    // A new block copies the formats of the one before it, so most paragraphs need no setting.
    const QTextBlockFormat block = blockFormat(state().para);
    if (m_cursor.blockFormat() != block)
        m_cursor.setBlockFormat(block);
    const QTextCharFormat chars = charFormat(state().chars); // the height of an empty paragraph
    if (m_cursor.blockCharFormat() != chars)
        m_cursor.setBlockCharFormat(chars);
    // The block after it starts only when something follows, so a final \par adds no empty line.
    m_blockPending = true;
}

void Reader::flushBytes()
{
    if (m_bytes.isEmpty())
        return;
    const QString s = decode(m_bytes);
    m_bytes.clear();
    text(s);
}

void Reader::flushText()
{
    if (m_text.isEmpty())
        return;
    m_cursor.insertText(sanitised(m_text), charFormat(m_textProps));
    m_text.clear();
}

void Reader::finish()
{
    flushBytes();
    flushText();
    if (!m_blockPending)
        m_cursor.setBlockFormat(blockFormat(state().para));
}

void Reader::setCodePage(int codePage)
{
    if (codePage == 1252) {
        m_decoder = QStringDecoder();
        return;
    }
    const QByteArray name = codePage == 65001 ? QByteArray("UTF-8") : "cp" + QByteArray::number(codePage);
    QStringDecoder decoder(name.constData());
    if (decoder.isValid())
        m_decoder = std::move(decoder);
}

QString Reader::decode(const QByteArray &bytes)
{
    if (m_decoder.isValid()) {
        QString s = m_decoder.decode(bytes);
        m_decoder.resetState();
        return s;
    }
    QString s = QString::fromLatin1(bytes);
    for (QChar &c : s) {
        if (c.unicode() >= 0x80 && c.unicode() < 0xA0)
            c = QChar(cp1252High[c.unicode() - 0x80]);
    }
    return s;
}

void Reader::storeFont()
{
    const QString name = decode(m_fontName).trimmed();
    m_fontName.clear();
    if (!name.isEmpty() && (m_fonts.size() < MaxTableSize || m_fonts.contains(m_fontEntry)))
        m_fonts.insert(m_fontEntry, name);
}

void Reader::storeColour()
{
    // An entry without components is "auto": the view's own text colour.
    if (qsizetype(m_colours.size()) < MaxTableSize)
        m_colours.push_back(m_colourGiven ? QColor(m_red, m_green, m_blue) : QColor());
    m_red = m_green = m_blue = 0;
    m_colourGiven = false;
}

QTextCharFormat Reader::charFormat(const CharProps &p) const
{
    QTextCharFormat format;
    const auto font = m_fonts.constFind(p.font >= 0 ? p.font : m_defaultFont);
    if (font != m_fonts.cend())
        format.setFontFamilies({*font});
    format.setFontPointSize(p.halfPoints / 2.0);
    format.setFontWeight(p.bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(p.italic);
    format.setFontUnderline(p.underline);
    if (p.colour > 0 && p.colour < qsizetype(m_colours.size()) && m_colours[size_t(p.colour)].isValid())
        format.setForeground(m_colours[size_t(p.colour)]);
    return format;
}

QTextBlockFormat Reader::blockFormat(const ParaProps &p)
{
    constexpr qreal perPixel = Twips::PerPixel;
    QTextBlockFormat format;
    format.setLeftMargin(p.leftIndent / perPixel);
    format.setTextIndent(std::max(p.firstIndent, -p.leftIndent) / perPixel);
    format.setTopMargin(p.spaceBefore / perPixel);
    format.setBottomMargin(p.spaceAfter / perPixel);
    format.setAlignment(p.alignment);
    // A hanging indent has a tab stop at the left indent: "\bullet\tab text" lines the text up there.
    if (p.firstIndent < 0)
        format.setTabPositions(
            {QTextOption::Tab(std::min(-p.firstIndent, p.leftIndent) / perPixel, QTextOption::LeftTab)});
    return format;
}

} // namespace

bool RtfReader::read(const QByteArray &rtf, QTextDocument &document)
{
    if (rtf.size() > MaxInputSize || !rtf.startsWith("{\\rtf"))
        return false;
    const bool undo = document.isUndoRedoEnabled();
    document.setUndoRedoEnabled(false); // nobody undoes the loading of a help file
    document.clear();
    QTextCursor cursor(&document);
    cursor.beginEditBlock();
    Reader(rtf, cursor).run();
    cursor.endEditBlock();
    document.setUndoRedoEnabled(undo);
    return true;
}
