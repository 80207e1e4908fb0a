#include "HtmlBody.h"
#include "PageFetcher.h"
#include "PlainBody.h"
#include "TestMain.h"

#include <QRandomGenerator>
#include <QTest>

class HtmlBodyTest : public QObject {
    Q_OBJECT
private slots:
    void innerHtml_data();
    void innerHtml();
    void deeplyNestedPage();
    void plainPagesNeedNoParser();
};

void HtmlBodyTest::innerHtml_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *name, const QByteArray &document, const QString &expected) {
        QTest::newRow(name) << document << expected;
    };

    // What the external-IP page sends in practice.
    row("plain address", "203.0.113.7", "203.0.113.7");
    row("trailing line break", "203.0.113.7\n", "203.0.113.7\n");
    row("white space kept", "203.0.113.7 \r\n \t\n", "203.0.113.7 \n \t\n");
    // As in a browser: white space before the first text belongs to no element.
    row("leading white space dropped", " \r\n203.0.113.7", "203.0.113.7");
    row("bold markup", "<b>203.0.113.7</b>", "<b>203.0.113.7</b>");
    row("upper-case tags", "<B>x</B><P CLASS=A>y", "<b>x</b><p class=\"A\">y</p>");
    row("whole document",
        "<!DOCTYPE html>\n<html>\n<head><title>IP error</title></head>\n"
        "<body>\n203.0.113.7\n</body>\n</html>\n",
        "\n203.0.113.7\n\n\n");
    row("text before html", "abc<html><body>203.0.113.7", "abc203.0.113.7");
    row("empty document", "", "");
    row("empty body", "<html><head><title>t</title></head><body></body></html>", "");
    row("head only", "<title>203.0.113.7</title>", "");

    // Attribute values escape & " and no-break space; text escapes & < > and no-break space.
    row("attribute quotes and ampersand", "<p title='say \"a&amp;b\"&nbsp;<x>'>t</p>",
        "<p title=\"say &quot;a&amp;b&quot;&nbsp;<x>\">t</p>");
    row("attribute without value", "<input disabled>", "<input disabled=\"\">");
    row("entities in text", "a&nbsp;b &lt;c&gt; &amp; &quot; &#65;", "a&nbsp;b &lt;c&gt; &amp; \" A");
    row("bare ampersand and brackets", "1 & 2 > 0", "1 &amp; 2 &gt; 0");
    row("error-handler attribute", "<img src=x onerror=\"alert('1')\">",
        "<img src=\"x\" onerror=\"alert('1')\">");

    row("comment", "x<!-- note -->y", "x<!-- note -->y");
    row("processing instruction becomes comment", "x<?pi y?>", "x<!--?pi y?-->");
    row("script text raw", "x<script>if (a<b && c>d) go();</script>",
        "x<script>if (a<b && c>d) go();</script>");
    row("raw text elements", "x<style>a>b&c</style><xmp>a&b<</xmp><iframe>i&<</iframe>",
        "x<style>a>b&c</style><xmp>a&b<</xmp><iframe>i&<</iframe>");
    row("textarea text escaped", "<textarea>a&amp;b<</textarea>", "<textarea>a&amp;b&lt;</textarea>");
    row("noscript parsed as markup", "x<noscript>a &amp; <b>y</b></noscript>",
        "x<noscript>a &amp; <b>y</b></noscript>");
    row("void elements", "a<br>b<BR/>c<hr><wbr>", "a<br>b<br>c<hr><wbr>");
    row("end tag for void", "a</br>b", "a<br>b");
    row("nested elements", "<div><p>1<i>2<b>3</b></i></p></div>", "<div><p>1<i>2<b>3</b></i></p></div>");
    row("misnested formatting", "<b><p>x</b>y</p>", "<b></b><p><b>x</b>y</p>");
    row("table fix-up", "<table><tr><td>x", "<table><tbody><tr><td>x</td></tr></tbody></table>");
    row("template contents", "x<template><b>t</b>&amp;</template>", "x<template><b>t</b>&amp;</template>");
    row("unknown tag", "<Foo-Bar Data-X=1>y</foo-bar><x:y>z</x:y>",
        "<foo-bar data-x=\"1\">y</foo-bar><x:y>z</x:y>");
    row("pre drops first line break", "<pre>\n\nx</pre>", "<pre>\nx</pre>");

    row("svg keeps its case",
        "<svg viewbox='0 0 1 1'><foreignobject><p>x</p></foreignobject><clippath/></svg>",
        "<svg viewBox=\"0 0 1 1\"><foreignObject><p>x</p></foreignObject><clipPath></clipPath></svg>");
    row("foreign attribute prefixes", "<svg xlink:href=a xml:lang=en xmlns:xlink=x></svg>",
        "<svg xlink:href=\"a\" xml:lang=\"en\" xmlns:xlink=\"x\"></svg>");
    row("foreign void-like element", "<svg><path/><br></svg>", "<svg><path></path></svg><br>");
    row("cdata in svg is text", "<svg><![CDATA[a<b]]></svg>", "<svg>a&lt;b</svg>");
    row("mathml attribute", "<math definitionurl=u><mi>x</mi></math>",
        "<math definitionURL=\"u\"><mi>x</mi></math>");
    row("frameset as body", "<frameset><frame src=a></frameset>", "<frame src=\"a\">");

    const QString emoji = QString::fromUtf8("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80");
    row("non-ASCII", emoji.toUtf8(), emoji);
    row("no-break space character", QString::fromUtf8("a\u00A0b").toUtf8(), "a&nbsp;b");
    row("byte order mark dropped",
        "\xEF\xBB\xBF"
        "1.2.3.4",
        "1.2.3.4");
    row("invalid UTF-8 replaced",
        "a\xFF"
        "b\xC3",
        QString::fromUtf8("a\uFFFDb\uFFFD"));
    row("NUL in text dropped", QByteArray("<b>1\0.2</b>", 11), "<b>1.2</b>");
}

void HtmlBodyTest::innerHtml()
{
    QFETCH(QByteArray, document);
    QFETCH(QString, expected);
    QCOMPARE(HtmlBody::innerHtml(document), expected);
}

void HtmlBodyTest::deeplyNestedPage()
{
    // The deepest nesting a page within the fetcher's default bound can hold.
    const int depth = int(PageFetcher::DefaultMaxBodyBytes / 3);
    const QString html = HtmlBody::innerHtml(QByteArray("<i>").repeated(depth) + "203.0.113.7");
    QCOMPARE(html, QString("<i>").repeated(depth) + "203.0.113.7" + QString("</i>").repeated(depth));
    // More than twice the page: bounded, the parser gives up rather than hand it on.
    QCOMPARE(HtmlBody::innerHtml(QByteArray("<i>").repeated(depth) + "203.0.113.7", html.size()), html);
    QCOMPARE(HtmlBody::innerHtml(QByteArray("<i>").repeated(depth) + "203.0.113.7", html.size() - 1),
             std::nullopt);
}

void HtmlBodyTest::plainPagesNeedNoParser()
{
    // Wherever the shortcut answers, it must answer what the parser would.
    const QStringList pieces = {
        "203.0.113.7", " ",    "\t",           "\n",    "\f",  ">",         QString(QChar(0x00A0)),
        "\u00e9",      "\x01", "\xEF\xBB\xBF", "error", "::1", "\U0001F600"};
    QRandomGenerator random(7);
    int checked = 0;
    for (int i = 0; i < 3000; ++i) {
        QString text;
        for (int n = random.bounded(8); n > 0; --n)
            text += pieces.at(random.bounded(pieces.size()));
        const QByteArray document = (i % 5 == 0 ? "\xEF\xBB\xBF" : "") + text.toUtf8();
        if (const std::optional<QString> plain = PlainBody::innerHtml(document)) {
            QCOMPARE(*plain, HtmlBody::innerHtml(document));
            ++checked;
        }
    }
    QVERIFY(checked > 500);
    for (const QByteArray &markup : {QByteArray("<b>1</b>"), QByteArray("1 &amp; 2"), QByteArray("1\r\n"),
                                     QByteArray("1\0", 2), QByteArray("caf\xC3\xA9")})
        QVERIFY(!PlainBody::innerHtml(markup));
}

NETQUILL_TEST(HtmlBodyTest)
#include "HtmlBodyTest.moc"
