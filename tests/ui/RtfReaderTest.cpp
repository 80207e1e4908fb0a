#include "RtfReader.h"
#include "TestMain.h"

#include <QStringDecoder>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>

class RtfReaderTest : public QObject {
    Q_OBJECT
private slots:
    void read_data();
    void read();
};

namespace {
// The character format at one position, in a short form: "b i u 10pt #1f3a60 Verdana".
QString describe(const QTextCharFormat &format)
{
    QStringList parts;
    if (format.fontWeight() >= QFont::Bold)
        parts << "b";
    if (format.fontItalic())
        parts << "i";
    if (format.fontUnderline())
        parts << "u";
    parts << QString::number(format.fontPointSize()) + "pt";
    if (format.hasProperty(QTextFormat::ForegroundBrush))
        parts << format.foreground().color().name();
    parts << format.fontFamilies().toStringList();
    return parts.join(' ');
}
} // namespace

void RtfReaderTest::read_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("at");         // a position whose format is checked, -1 for none
    QTest::addColumn<QString>("format"); // see describe()
    const auto row = [](const char *name, const QByteArray &rtf, const QString &text, int at = -1,
                        const QString &format = {}) {
        QTest::newRow(name) << rtf << true << text << at << format;
    };

    row("bold", "{\\rtf1 a{\\b b}c}", "abc", 1, "b 12pt");
    row("bold switched off by 0", "{\\rtf1\\b a\\b0 b}", "ab", 1, "12pt");
    row("italic", "{\\rtf1 x\\i y}", "xy", 1, "i 12pt");
    row("underline", "{\\rtf1\\ul a\\ulnone b}", "ab", 0, "u 12pt");
    row("ulnone", "{\\rtf1\\ul a\\ulnone b}", "ab", 1, "12pt");
    row("size in half-points", "{\\rtf1\\fs21 a}", "a", 0, "10.5pt");
    row("plain resets characters", "{\\rtf1\\b\\i\\fs40 a\\plain b}", "ab", 1, "12pt");
    const QByteArray colours =
        "{\\rtf1{\\colortbl;\\red255\\green0\\blue0;\\red31\\green58\\blue96;}\\cf2 a\\cf0 b}";
    row("colour from table", colours, "ab", 0, "12pt #1f3a60");
    row("colour 0 is auto", colours, "ab", 1, "12pt");
    const QByteArray fonts =
        "{\\rtf1\\deff0{\\fonttbl{\\f0\\fswiss Verdana;}{\\f1\\fmodern Courier New;}}a\\f1 b}";
    row("default font", fonts, "ab", 0, "12pt Verdana");
    row("font selected", fonts, "ab", 1, "12pt Courier New");

    const QByteArray nested = "{\\rtf1\\b a{\\i b{\\b0\\fs40 c}d}e}";
    row("nested group", nested, "abcde", 2, "i 20pt");
    row("inner group restores", nested, "abcde", 3, "b i 12pt");
    row("outer group restores", nested, "abcde", 4, "b 12pt");

    row("paragraphs, line, tab", "{\\rtf1 one\\par two\\line three\\tab 3\\par\\par four\\par}",
        "one\ntwo\nthree\t3\n\nfour");
    row("backslash line end is par", "{\\rtf1 a\\\nb}", "a\nb");
    row("bullet item", "{\\rtf1\\li360\\fi-360\\bullet\\tab Item}", QString::fromUtf8("\u2022\tItem"));
    row("escaped characters", "{\\rtf1 \\\\\\{\\}\\~x}", "\\{} x");
    row("hex in cp1252 by default", "{\\rtf1\\ansi caf\\'e9 \\'80}", QString::fromUtf8("caf\u00e9 \u20ac"));
    row("hex in the declared code page", "{\\rtf1\\ansi\\ansicpg1251 \\'e9}", QString::fromUtf8("\u0439"));
    row("back to cp1252", "{\\rtf1\\ansi\\ansicpg1251\\ansicpg1252 \\'e9}", QString::fromUtf8("\u00e9"));
    QByteArray high = "{\\rtf1\\ansi ", highBytes;
    for (int byte = 0x80; byte < 0xA0; ++byte) {
        high += "\\'" + QByteArray::number(byte, 16);
        highBytes += char(byte);
    }
    row("cp1252 0x80-0x9F as the system decodes them", high + "}",
        QStringDecoder("cp1252").decode(highBytes));
    row("unicode skips one fallback", "{\\rtf1 a\\u233?b}", QString::fromUtf8("a\u00e9b"));
    row("uc2 skips two", "{\\rtf1\\uc2\\u8364 EUy}", QString::fromUtf8("\u20acy"));
    row("hex escape is one fallback", "{\\rtf1\\u233\\'e9x}", QString::fromUtf8("\u00e9x"));
    row("uc0 skips nothing", "{\\rtf1\\uc0\\u233 x}", QString::fromUtf8("\u00e9x"));
    row("group end stops the skip", "{\\rtf1\\uc3{\\u233}x}", QString::fromUtf8("\u00e9x"));
    row("negative unicode is unsigned", "{\\rtf1\\u-10179?\\u-8704?}", QString::fromUtf8("\U0001F600"));
    row("huge parameters clamped", "{\\rtf1\\fs99999999999999999999 a\\u99999999999 b}",
        QString::fromUtf8("a\uFFFD"), 0, "1000pt");

    row("skipped destinations",
        "{\\rtf1{\\fonttbl{\\f0 Verdana;}}{\\info{\\title T}{\\author A}}{\\stylesheet{\\s0 Normal;}}"
        "a{\\*\\generator G;}{\\*\\unknown{\\x y}z}\\foo12 b{\\pict\\bin3 }}}}c}",
        "abc");
    row("text after the document group", "{\\rtf1 a}}b", "a");
    row("unclosed groups", "{\\rtf1{\\b a{\\i b", "ab", 1, "b i 12pt");
    row("truncated file", "{\\rtf1\\ansi{\\fonttbl{\\f0 Verdana;}}\\f0\\fs20 {\\b Head\\par}Body text\\'e",
        "Head\nBody text", 0, "b 10pt Verdana");
    row("deeper than the bound is skipped",
        "{\\rtf1 a" + QByteArray(300, '{') + "b" + QByteArray(300, '}') + "c}", "ac");

    const auto refused = [](const char *name, const QByteArray &data) {
        QTest::newRow(name) << data << false << "placeholder" << -1 << QString();
    };
    refused("plain text", "Netquill help");
    refused("empty", "");
    refused("no brace", "\\rtf1 a}");
    refused("larger than the bound", "{\\rtf1 " + QByteArray(RtfReader::MaxInputSize, 'a') + "}");
}

void RtfReaderTest::read()
{
    QFETCH(QByteArray, rtf);
    QFETCH(bool, accepted);
    QFETCH(QString, text);
    QFETCH(int, at);
    QFETCH(QString, format);

    QTextDocument document;
    document.setPlainText("placeholder");
    QCOMPARE(RtfReader::read(rtf, document), accepted);
    QCOMPARE(document.toPlainText(), text);
    if (at >= 0) {
        QTextCursor cursor(&document);
        cursor.setPosition(at + 1); // the format of the character before the cursor
        QCOMPARE(describe(cursor.charFormat()), format);
    }
}

NETQUILL_TEST(RtfReaderTest)
#include "RtfReaderTest.moc"
