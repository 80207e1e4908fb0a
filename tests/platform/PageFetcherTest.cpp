#include "PageFetcher.h"
#include "ScriptedHttpServer.h"
#include "TestMain.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

using Response = ScriptedHttpServer::Response;
Q_DECLARE_METATYPE(ScriptedHttpServer::Response)
Q_DECLARE_METATYPE(PageFetcher::Body)

namespace {
constexpr int WaitMs = 5000;
const QString TlsFolder = QStringLiteral(NETQUILL_SOURCE_DIR "/tests/notify/tls");
} // namespace

class PageFetcherTest : public QObject {
    Q_OBJECT
private slots:
    void completion_data();
    void completion();
    void unreachableAddress_data();
    void unreachableAddress();
    void refusedConnectionFails();
    void silentServerTimesOut();
    void oversizedBodyFailsBeforeItEnds();
    void redirect_data();
    void redirect();
    void upgradeRedirect_data();
    void upgradeRedirect();
    void navigateReplacesPending_data();
    void navigateReplacesPending();
    void navigateFromCompletionHandler();
    void everyNavigateAsksTheServer();
    void serverReadsRequestInPieces();
    void cutOffBody_data();
    void cutOffBody();
    void misbehavingParser_data();
    void misbehavingParser();
    void plainTextSkipsTheParser_data();
    void plainTextSkipsTheParser();
};

void PageFetcherTest::completion_data()
{
    QTest::addColumn<Response>("response");
    QTest::addColumn<bool>("failed");
    QTest::addColumn<QString>("body");

    const auto row = [](const char *name, const Response &response, bool failed, const QString &body) {
        QTest::newRow(name) << response << failed << body;
    };

    const qint64 bound = PageFetcher::DefaultMaxBodyBytes;
    row("200 address", Response::ok("203.0.113.7\n"), false, "203.0.113.7\n");
    row("200 page", Response::ok("<html><body><B>203.0.113.7</B></body></html>"), false,
        "<b>203.0.113.7</b>");
    row("200 empty", Response::ok(""), false, "");
    row("body at the bound", Response::ok(QByteArray(bound, 'a')), false, QString(bound, 'a'));
    row("body over the bound", Response::ok(QByteArray(bound + 1, 'a')), true, "");
    row("500", Response::status(500, "203.0.113.7"), true, "");
    row("404", Response::status(404, "Not Found"), true, "");
    row("503 empty", Response::status(503), true, "");
    row("300 with a page", Response::status(300, "203.0.113.7"), true, "");
    row("304", Response::status(304), true, "");
    row("302 without location", Response::status(302, "203.0.113.7"), true, "");
    row("closed without answer", Response::closeWithoutAnswer(), true, "");
    row("shorter than announced", Response::ok("203.0.113.").header("Content-Length", "1000"), true, "");
    row("chunked", Response::ok("b\r\n203.0.113.7\r\n0\r\n\r\n").header("Transfer-Encoding", "chunked"),
        false, "203.0.113.7");
    row("chunked, cut off", Response::ok("b\r\n203.0.113.").header("Transfer-Encoding", "chunked"), true, "");
    row("chunked, no last chunk", Response::ok("b\r\n203.0.113.7\r\n").header("Transfer-Encoding", "chunked"),
        true, "");
    row("parser abort", Response::ok("<table><svg><select><foreignObject><select><td>"), true, "");
    // What is made of a page is bounded as the page is: each "<p>" comes out as "<p></p>".
    const qint64 paragraphs = bound / 7;
    row("inner HTML at the bound", Response::ok(QByteArray("<p>").repeated(paragraphs)), false,
        QStringLiteral("<p></p>").repeated(paragraphs));
    row("inner HTML over the bound", Response::ok(QByteArray("<p>").repeated(paragraphs + 1)), true, "");
    row("plain text over the bound once escaped", Response::ok(QByteArray(bound / 4 + 1, '>')), true, "");

    const QString cafe = QString::fromUtf8("caf\u00E9");
    row("latin-1 charset", Response::ok("caf\xE9", "text/html; charset=ISO-8859-1"), false, cafe);
    row("quoted charset", Response::ok("caf\xE9", "text/html; charset=\"latin1\""), false, cafe);
    row("UTF-8 without charset", Response::ok(cafe.toUtf8()), false, cafe);
    row("UTF-16 with byte order mark",
        Response::ok(QByteArray("\xFF\xFE"
                                "1\0.\0"
                                "2\0",
                                8)),
        false, "1.2");
    row("invalid UTF-8",
        Response::ok("1\xFF"
                     "2"),
        false,
        QString::fromUtf8("1\uFFFD"
                          "2"));
}

void PageFetcherTest::completion()
{
    QFETCH(Response, response);
    QFETCH(bool, failed);
    QFETCH(QString, body);

    ScriptedHttpServer server;
    QVERIFY(server.isListening());
    server.setResponse("/page", response);
    PageFetcher fetcher;
    QSignalSpy complete(&fetcher, &PageFetcher::DownloadComplete);
    const QUrl url = server.url("/page");
    fetcher.Navigate(url);
    QVERIFY(fetcher.Busy());

    QTRY_COMPARE_WITH_TIMEOUT(complete.size(), 1, WaitMs);
    QCOMPARE(fetcher.last().failed, failed);
    QCOMPARE(fetcher.last().BodyInnerHTML, body);
    QCOMPARE(fetcher.last().LocationURL, url);
    QVERIFY(!fetcher.Busy());
    QVERIFY(!server.requests().isEmpty()); // Qt retries once on a connection closed without answer
    QCOMPARE(server.requests().at(0).method, QByteArray("GET"));
    QCOMPARE(server.requests().at(0).target, QByteArray("/page"));
}

void PageFetcherTest::unreachableAddress_data()
{
    QTest::addColumn<QUrl>("url");
    QTest::newRow("empty") << QUrl();
    QTest::newRow("unsupported scheme") << QUrl("gopher://127.0.0.1/x");
    QTest::newRow("no host") << QUrl("http:///extras/GetExternalIP.asp");
}

void PageFetcherTest::unreachableAddress()
{
    QFETCH(QUrl, url);
    PageFetcher fetcher;
    QSignalSpy complete(&fetcher, &PageFetcher::DownloadComplete);
    fetcher.Navigate(url);
    QCOMPARE(complete.size(), 0); // completion comes later, never inside Navigate
    QTRY_COMPARE_WITH_TIMEOUT(complete.size(), 1, WaitMs);
    QVERIFY(fetcher.last().failed);
    QCOMPARE(fetcher.last().BodyInnerHTML, QString());
    QCOMPARE(fetcher.last().LocationURL, url);
}

void PageFetcherTest::refusedConnectionFails()
{
    ScriptedHttpServer server;
    QVERIFY(server.isListening());
    server.setResponse("/page", Response::ok("203.0.113.7"));
    server.close();

    PageFetcher fetcher;
    fetcher.setTimeout(20000);
    QSignalSpy complete(&fetcher, &PageFetcher::DownloadComplete);
    fetcher.Navigate(server.url("/page"));
    QTRY_COMPARE_WITH_TIMEOUT(complete.size(), 1, WaitMs);
    QVERIFY(fetcher.last().failed);
    QCOMPARE(fetcher.last().BodyInnerHTML, QString());
    QCOMPARE(fetcher.last().LocationURL, server.url("/page"));
}

void PageFetcherTest::silentServerTimesOut()
{
    ScriptedHttpServer server;
    QVERIFY(server.isListening());
    server.setResponse("/page", Response::hang());
    PageFetcher fetcher;
    QCOMPARE(fetcher.timeout(), PageFetcher::DefaultTimeoutMs);
    fetcher.setTimeout(300);
    QSignalSpy complete(&fetcher, &PageFetcher::DownloadComplete);

    QElapsedTimer clock;
    clock.start();
    fetcher.Navigate(server.url("/page"));
    QTRY_COMPARE_WITH_TIMEOUT(complete.size(), 1, WaitMs);
    QVERIFY2(clock.elapsed() >= 250, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(fetcher.last().failed);
    QCOMPARE(fetcher.last().BodyInnerHTML, QString());
    QCOMPARE(server.requests().size(), 1);

    QTest::qWait(400); // the timer does not fire a second completion
    QCOMPARE(complete.size(), 1);
}

void PageFetcherTest::oversizedBodyFailsBeforeItEnds()
{
    // The server announces far more than it sends and keeps the connection open: only the bound can
    // end this fetch before the time-out.
    ScriptedHttpServer server;
    QVERIFY(server.isListening());
    server.setResponse("/page", Response::ok(QByteArray(200 * 1024, 'x'))
                                    .header("Content-Length", QByteArray::number(100 * 1024 * 1024))
                                    .keepingOpen());
    PageFetcher fetcher;
    fetcher.setTimeout(30000);
    fetcher.setMaxBodyBytes(16 * 1024);
    QSignalSpy complete(&fetcher, &PageFetcher::DownloadComplete);
    fetcher.Navigate(server.url("/page"));
    QTRY_COMPARE_WITH_TIMEOUT(complete.size(), 1, WaitMs);
    QVERIFY(fetcher.last().failed);
    QCOMPARE(fetcher.last().BodyInnerHTML, QString());
}

void PageFetcherTest::redirect_data()
{
    QTest::addColumn<PageFetcher::Body>("mode");
    QTest::addColumn<bool>("secure"); // /old asked for over https
    QTest::addColumn<Response>("redirect");
    QTest::addColumn<Response>("target");
    QTest::addColumn<bool>("failed");
    QTest::addColumn<QString>("finalPath");
    QTest::addColumn<QString>("body");
    QTest::addColumn<int>("newRequests");
    QTest::addColumn<QString>("reason"); // checked unless empty; "{port}" is the server's port

    const auto row = [](const char *name, const Response &redirect, const Response &target, bool failed,
                        const QString &finalPath, const QString &body, int newRequests = 1) {
        QTest::newRow(name) << PageFetcher::Body::Html << false << redirect << target << failed << finalPath
                            << body << newRequests << QString();
    };

    const Response page = Response::ok("203.0.113.7");
    row("302", Response::redirect("/new"), page, false, "/new", "203.0.113.7");
    row("301", Response::redirect("/new", 301), page, false, "/new", "203.0.113.7");
    row("303", Response::redirect("/new", 303), page, false, "/new", "203.0.113.7");
    row("307", Response::redirect("/new", 307), page, false, "/new", "203.0.113.7");
    row("308", Response::redirect("/new", 308), page, false, "/new", "203.0.113.7");
    row("relative with query", Response::redirect("new?from=old"), page, false, "/new?from=old",
        "203.0.113.7");
    // A failure after a redirect reports the address that was asked for.
    row("to an error page", Response::redirect("/new"), Response::status(500, "x"), true, "/old", "");
    row("to a silent page", Response::redirect("/new"), Response::hang(), true, "/old", "");
    // Ten redirects are followed: /old, then /new and /old in turn, until the eleventh answer.
    row("loop", Response::redirect("/new"), Response::redirect("/old", 301), true, "/old", "",
        PageFetcher::MaxRedirects / 2);

    // A service's answer comes from the address asked for: no redirect to another one is followed.
    const auto refused = [&page](const char *name, bool secure, const QByteArray &location,
                                 const QString &resolved) {
        QTest::newRow(name) << PageFetcher::Body::PlainText << secure << Response::redirect(location) << page
                            << true << "/old"
                            << "" << 0 << "redirected to another address: " + resolved;
    };
    const QString elsewhere = QStringLiteral("http://127.0.0.1:{port}/new");
    refused("service, another path", false, elsewhere.toLatin1(), elsewhere);
    refused("service, relative", false, "/new", elsewhere);
    refused("service, another host name", false, "http://localhost:{port}/new",
            "http://localhost:{port}/new");
    refused("service, https of another path", false, "https://127.0.0.1:{port}/new",
            "https://127.0.0.1:{port}/new");
    refused("service, https to http", true, elsewhere.toLatin1(), elsewhere);
}

void PageFetcherTest::redirect()
{
    QFETCH(PageFetcher::Body, mode);
    QFETCH(bool, secure);
    QFETCH(Response, redirect);
    QFETCH(Response, target);
    QFETCH(bool, failed);
    QFETCH(QString, finalPath);
    QFETCH(QString, body);
    QFETCH(int, newRequests);
    QFETCH(QString, reason);

    ScriptedHttpServer server;
    QVERIFY(server.isListening());
    QVERIFY(server.acceptTls(TlsFolder));
    const QByteArray port = QByteArray::number(server.port());
    for (auto &[name, value] : redirect.headers)
        value.replace("{port}", port);
    server.setResponse("/old", redirect);
    server.setResponse("/new", target);
    PageFetcher fetcher;
    fetcher.setTimeout(1000);
    QSignalSpy complete(&fetcher, &PageFetcher::DownloadComplete);
    const QUrl start = secure ? server.secureUrl("/old") : server.url("/old");
    fetcher.Navigate(start, mode);
    QTRY_COMPARE_WITH_TIMEOUT(complete.size(), 1, WaitMs);
    QCOMPARE(fetcher.last().failed, failed);
    QCOMPARE(fetcher.last().LocationURL, secure ? server.secureUrl(finalPath) : server.url(finalPath));
    QCOMPARE(fetcher.last().BodyInnerHTML, body);
    QCOMPARE(server.requestsFor("/new").size(), newRequests);
    if (!reason.isEmpty())
        QCOMPARE(fetcher.last().cause, reason.replace(QLatin1String("{port}"), QLatin1String(port)));
}

void PageFetcherTest::upgradeRedirect_data()
{
    QTest::addColumn<QUrl>("from");
    QTest::addColumn<QUrl>("to");
    QTest::addColumn<bool>("upgrade");
    const auto row = [](const char *name, const char *from, const char *to, bool upgrade) {
        QTest::newRow(name) << QUrl(from) << QUrl(to) << upgrade;
    };
    row("same address", "http://ip.example/ip", "https://ip.example/ip", true);
    row("default ports written out", "http://ip.example:80/ip", "https://ip.example:443/ip", true);
    row("same explicit port", "http://ip.example:8080/ip", "https://ip.example:8080/ip", true);
    row("port 80 kept", "http://ip.example/ip", "https://ip.example:80/ip", true);
    row("root without a slash", "http://ip.example", "https://ip.example/", true);
    row("same query", "http://ip.example/ip?format=text", "https://ip.example/ip?format=text", true);
    row("letter case of the host", "http://IP.example/ip", "https://ip.example/ip", true);
    row("fragment", "http://ip.example/ip", "https://ip.example/ip#top", true);
    row("another path", "http://ip.example/ip", "https://ip.example/other", false);
    row("trailing slash", "http://ip.example/ip", "https://ip.example/ip/", false);
    row("letter case of the path", "http://ip.example/ip", "https://ip.example/IP", false);
    row("query added", "http://ip.example/ip", "https://ip.example/ip?x=1", false);
    row("another host", "http://ip.example/ip", "https://ip.example.net/ip", false);
    row("subdomain", "http://ip.example/ip", "https://www.ip.example/ip", false);
    row("IPv4 to name", "http://127.0.0.1/ip", "https://localhost/ip", false);
    row("another port", "http://ip.example:8080/ip", "https://ip.example:8443/ip", false);
    row("default port to another", "http://ip.example/ip", "https://ip.example:8443/ip", false);
    row("explicit port to default", "http://ip.example:8080/ip", "https://ip.example/ip", false);
    row("user added", "http://ip.example/ip", "https://me@ip.example/ip", false);
    row("http to http", "http://ip.example/ip", "http://ip.example/ip", false);
    row("https to https", "https://ip.example/ip", "https://ip.example/ip", false);
    row("https to http", "https://ip.example/ip", "http://ip.example/ip", false);
    row("another scheme", "http://ip.example/ip", "ftp://ip.example/ip", false);
}

void PageFetcherTest::upgradeRedirect()
{
    QFETCH(QUrl, from);
    QFETCH(QUrl, to);
    QFETCH(bool, upgrade);
    QCOMPARE(PageFetcher::IsUpgrade(from, to), upgrade);
}

void PageFetcherTest::navigateReplacesPending_data()
{
    QTest::addColumn<Response>("first");
    QTest::addColumn<Response>("second");
    QTest::addColumn<bool>("failed");
    QTest::addColumn<QString>("body");

    const auto row = [](const char *name, const Response &first, const Response &second, bool failed,
                        const QString &body) { QTest::newRow(name) << first << second << failed << body; };

    const Response good = Response::ok("203.0.113.7");
    const Response stale = Response::ok("198.51.100.1");
    row("old answers after the new", Response(stale).delayed(400), good, false, "203.0.113.7");
    row("old answers before the new", Response(stale).delayed(50), Response(good).delayed(400), false,
        "203.0.113.7");
    row("old fails before the new", Response::status(500).delayed(50), Response(good).delayed(400), false,
        "203.0.113.7");
    row("old would succeed, new fails", Response(stale).delayed(50), Response::status(500).delayed(400), true,
        "");
    row("old hangs", Response::hang(), good, false, "203.0.113.7");
}

void PageFetcherTest::navigateReplacesPending()
{
    QFETCH(Response, first);
    QFETCH(Response, second);
    QFETCH(bool, failed);
    QFETCH(QString, body);

    ScriptedHttpServer oldServer;
    ScriptedHttpServer newServer;
    QVERIFY(oldServer.isListening() && newServer.isListening());
    oldServer.setResponse("/page", first);
    newServer.setResponse("/page", second);
    PageFetcher fetcher;
    fetcher.setTimeout(800);
    QSignalSpy complete(&fetcher, &PageFetcher::DownloadComplete);

    fetcher.Navigate(oldServer.url("/page"));
    QTRY_COMPARE_WITH_TIMEOUT(oldServer.requests().size(), 1, WaitMs); // the old fetch is really under way
    fetcher.Navigate(newServer.url("/page"));
    QTRY_COMPARE_WITH_TIMEOUT(complete.size(), 1, WaitMs);
    QCOMPARE(fetcher.last().failed, failed);
    QCOMPARE(fetcher.last().BodyInnerHTML, body);
    QCOMPARE(fetcher.last().LocationURL, newServer.url("/page"));

    // Well past the old answer and the old time-out: still one completion, still the new result.
    QTest::qWait(1000);
    QCOMPARE(complete.size(), 1);
    QCOMPARE(fetcher.last().BodyInnerHTML, body);
    QCOMPARE(fetcher.last().LocationURL, newServer.url("/page"));
}

void PageFetcherTest::navigateFromCompletionHandler()
{
    // The lookup cycle can start the next fetch while it handles a completion.
    ScriptedHttpServer server;
    QVERIFY(server.isListening());
    server.enqueue("/page", Response::ok("198.51.100.1"));
    server.enqueue("/page", Response::ok("203.0.113.7"));
    PageFetcher fetcher;
    QStringList bodies;
    connect(&fetcher, &PageFetcher::DownloadComplete, this, [&] {
        if (bodies.isEmpty())
            fetcher.Navigate(server.url("/page"));
        bodies.append(fetcher.last().BodyInnerHTML);
    });
    fetcher.Navigate(server.url("/page"));
    QTRY_COMPARE_WITH_TIMEOUT(bodies.size(), 2, WaitMs);
    QCOMPARE(bodies, QStringList({"198.51.100.1", "203.0.113.7"}));
    QCOMPARE(server.requests().size(), 2);
}

void PageFetcherTest::everyNavigateAsksTheServer()
{
    ScriptedHttpServer server;
    QVERIFY(server.isListening());
    server.enqueue("/page", Response::ok("198.51.100.1")
                                .header("Cache-Control", "public, max-age=3600")
                                .header("Expires", "Thu, 01 Jan 2099 00:00:00 GMT")
                                .header("Set-Cookie", "session=1; Path=/"));
    server.enqueue("/page", Response::ok("203.0.113.7"));
    PageFetcher fetcher;
    QSignalSpy complete(&fetcher, &PageFetcher::DownloadComplete);

    fetcher.Navigate(server.url("/page"));
    QTRY_COMPARE_WITH_TIMEOUT(complete.size(), 1, WaitMs);
    QCOMPARE(fetcher.last().BodyInnerHTML, QString("198.51.100.1"));
    fetcher.Navigate(server.url("/page"));
    QTRY_COMPARE_WITH_TIMEOUT(complete.size(), 2, WaitMs);
    QCOMPARE(fetcher.last().BodyInnerHTML, QString("203.0.113.7"));

    QCOMPARE(server.requests().size(), 2);
    QVERIFY2(server.requests().at(1).header("Cookie").isNull(), server.requests().at(1).raw.constData());
}

void PageFetcherTest::serverReadsRequestInPieces()
{
    ScriptedHttpServer server;
    QVERIFY(server.isListening());
    server.enqueue("/a", Response::ok("first").keepingOpen());
    server.enqueue("/a", Response::ok("second"));

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.port());
    QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::ConnectedState, WaitMs);
    const QByteArray request = "GET /a?x=1 HTTP/1.1\r\nHost: " + server.hostAndPort().toLatin1() + "\r\n\r\n";
    for (const QByteArray &piece : {request.left(5), request.mid(5, 20), request.mid(25)}) {
        QCOMPARE(server.requests().size(), 0);
        client.write(piece);
        QTest::qWait(50);
    }
    QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, WaitMs);
    QCOMPARE(server.requests().at(0).path, QByteArray("/a"));
    QCOMPARE(server.requests().at(0).target, QByteArray("/a?x=1"));
    QCOMPARE(server.requests().at(0).raw, request);
    QByteArray answer;
    QTRY_VERIFY_WITH_TIMEOUT((answer += client.readAll()).endsWith("\r\n\r\nfirst"), WaitMs);
    QVERIFY(!answer.contains("Connection: close"));

    // The connection stays open for a second request; the queue then gives the next answer.
    client.write("GET /a HTTP/1.1\r\n\r\n");
    answer.clear();
    QTRY_VERIFY_WITH_TIMEOUT((answer += client.readAll()).endsWith("\r\n\r\nsecond"), WaitMs);
    QVERIFY(answer.startsWith("HTTP/1.1 200 OK\r\n"));
    QVERIFY(answer.contains("\r\nConnection: close\r\n"));
    QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::UnconnectedState, WaitMs);
}

void PageFetcherTest::cutOffBody_data()
{
    QTest::addColumn<QByteArray>("contentLength");
    QTest::addColumn<bool>("encoded");
    QTest::addColumn<bool>("cutOff");
    QTest::newRow("no length") << QByteArray() << false << false;
    QTest::newRow("complete") << QByteArray("10") << false << false;
    QTest::newRow("short") << QByteArray("1000") << false << true;
    QTest::newRow("unreadable length") << QByteArray("ten") << false << true;
    QTest::newRow("compressed") << QByteArray("1000") << true << false;
}

void PageFetcherTest::cutOffBody()
{
    QFETCH(QByteArray, contentLength);
    QFETCH(bool, encoded);
    QFETCH(bool, cutOff);
    QCOMPARE(PageFetcher::IsCutOff(contentLength, encoded, 10), cutOff);
}

void PageFetcherTest::misbehavingParser_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("parseMs");
    const auto sh = [](const char *name, const char *script) {
        QTest::newRow(name) << QStringLiteral("/bin/sh") << QStringList{"-c", script} << 500;
    };
    sh("crashes", "cat >/dev/null; kill -SEGV $$");
    sh("fails after output", "cat >/dev/null; echo 203.0.113.7; exit 3");
    sh("hangs", "exec sleep 60");
    sh("floods its output", "cat >/dev/null; exec yes 203.0.113.7");
    // Succeeds, slowly, where its address space is not limited: only the memory limit can stop it.
    QTest::newRow("runs out of memory")
        << QStringLiteral("python3") << QStringList{"-c", "b = bytearray(1 << 30); print('203.0.113.7')"}
        << 20000;
    QTest::newRow("missing") << QStringLiteral("/nonexistent/netquill-htmlbody") << QStringList() << 500;
}

void PageFetcherTest::misbehavingParser()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(int, parseMs);
    ScriptedHttpServer server;
    QVERIFY(server.isListening());
    server.setResponse("/page", Response::ok("<b>203.0.113.7</b>")); // markup: only the parser can read it
    PageFetcher fetcher;
    fetcher.setParser(program, arguments);
    fetcher.setParseLimits(parseMs, PageFetcher::DefaultParseMemoryBytes);
    fetcher.setTimeout(30000);
    QSignalSpy complete(&fetcher, &PageFetcher::DownloadComplete);
    QElapsedTimer clock;
    clock.start();
    fetcher.Navigate(server.url("/page"));
    QTRY_COMPARE_WITH_TIMEOUT(complete.size(), 1, WaitMs);
    QVERIFY(fetcher.last().failed);
    QCOMPARE(fetcher.last().BodyInnerHTML, QString());
    QVERIFY(!fetcher.Busy());
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
}

void PageFetcherTest::plainTextSkipsTheParser_data()
{
    QTest::addColumn<Response>("response");
    QTest::addColumn<bool>("failed");
    QTest::addColumn<QString>("body");
    const qint64 bound = PageFetcher::MaxPlainTextBytes;
    QTest::newRow("address") << Response::ok("203.0.113.5\n", "text/plain") << false << "203.0.113.5\n";
    QTest::newRow("markup left as sent")
        << Response::ok("<html><body><B>1</B>") << false << "<html><body><B>1</B>";
    QTest::newRow("latin-1 charset") << Response::ok("caf\xE9", "text/plain; charset=ISO-8859-1") << false
                                     << QString::fromUtf8("caf\u00E9");
    QTest::newRow("at the bound") << Response::ok(QByteArray(bound, '7')) << false << QString(bound, '7');
    QTest::newRow("over the bound") << Response::ok(QByteArray(bound + 1, '7')) << true << QString();
    QTest::newRow("500") << Response::status(500, "203.0.113.5") << true << QString();
}

// The parser is missing: an HTML fetch would fail, so every success here came without it.
void PageFetcherTest::plainTextSkipsTheParser()
{
    QFETCH(Response, response);
    QFETCH(bool, failed);
    QFETCH(QString, body);
    ScriptedHttpServer server;
    server.setResponse("/ip", response);
    PageFetcher fetcher;
    fetcher.setParser(QStringLiteral("/nonexistent/netquill-htmlbody"));
    QSignalSpy complete(&fetcher, &PageFetcher::DownloadComplete);
    fetcher.Navigate(server.url("/ip"), PageFetcher::Body::PlainText);
    QTRY_COMPARE_WITH_TIMEOUT(complete.size(), 1, WaitMs);
    QCOMPARE(fetcher.last().failed, failed);
    QCOMPARE(fetcher.last().BodyInnerHTML, body);
    QCOMPARE(fetcher.last().LocationURL, server.url("/ip"));

    // The next HTML fetch of markup goes through the (missing) parser again.
    server.setResponse("/page", Response::ok("<b>203.0.113.5</b>"));
    fetcher.Navigate(server.url("/page"));
    QTRY_COMPARE_WITH_TIMEOUT(complete.size(), 2, WaitMs);
    QVERIFY(fetcher.last().failed);
}

NETQUILL_TEST(PageFetcherTest)
#include "PageFetcherTest.moc"
