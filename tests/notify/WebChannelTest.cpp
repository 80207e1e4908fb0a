#include "WebChannel.h"
#include "AppriseChannel.h"
#include "NoticeFanOut.h"
#include "ScriptedHttpServer.h"
#include "TestMain.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QSignalSpy>
#include <QTest>

namespace {
using Response = ScriptedHttpServer::Response;
using Kind = WebChannelSettings::Kind;

Notice change()
{
    Notice notice;
    notice.time = QDateTime(QDate(2026, 12, 8), QTime(6, 13, 59), Qt::UTC);
    notice.hostName = QStringLiteral("desk");
    notice.internalOld = notice.internalNew = QStringLiteral("192.168.1.20");
    notice.externalOld = QStringLiteral("198.51.100.1");
    notice.externalNew = QStringLiteral("203.0.113.7");
    notice.source = QStringLiteral("api.ipify.org");
    notice.confirmedBy = {QStringLiteral("icanhazip.com")};
    return notice;
}
} // namespace

class WebChannelTest : public QObject {
    Q_OBJECT
private slots:
    /// Each service's request as its documentation describes it, against a peer that answers, fails or
    /// never answers.
    void requestAsTheServiceDocumentsIt_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("event"); // "failing": a ping's failure form
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("header"); // "Name: value" the request must carry
        QTest::addColumn<QString>("peer");      // ok, 500 or hang
        QTest::addColumn<QString>("cause");     // of a failure; empty: delivered
        QTest::newRow("ntfy") << int(Kind::Ntfy) << "" << QByteArray("/netquill-home")
                              << QByteArray("Authorization: Bearer tk_secret") << "ok"
                              << "";
        QTest::newRow("Gotify") << int(Kind::Gotify) << "" << QByteArray("/message")
                                << QByteArray("X-Gotify-Key: tk_secret") << "ok"
                                << "";
        QTest::newRow("webhook, signed") << int(Kind::Webhook) << "" << QByteArray("/hook")
                                         << QByteArray("Content-Type: application/json") << "ok"
                                         << "";
        QTest::newRow("health ping") << int(Kind::HealthPing) << "" << QByteArray("/hook") << QByteArray()
                                     << "ok"
                                     << "";
        QTest::newRow("health ping, outage")
            << int(Kind::HealthPing) << "failing" << QByteArray("/hook/fail") << QByteArray() << "ok"
            << "";
        // A failure URL edited into the settings by hand that is no web address is never asked.
        QTest::newRow("health ping, failure URL of a file")
            << int(Kind::HealthPing) << "failing to a file" << QByteArray() << QByteArray() << "ok"
            << "the failure URL must be a whole http:// or https:// address";
        QTest::newRow("refused") << int(Kind::Webhook) << "" << QByteArray("/hook") << QByteArray() << "500"
                                 << "HTTP status 500: over quota";
        QTest::newRow("never answers")
            << int(Kind::Ntfy) << "" << QByteArray("/netquill-home") << QByteArray() << "hang"
            << "no answer within 0.5 s";
    }
    void requestAsTheServiceDocumentsIt()
    {
        QFETCH(int, kind);
        QFETCH(QString, event);
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, header);
        QFETCH(QString, peer);
        QFETCH(QString, cause);
        ScriptedHttpServer server;
        server.setResponse(path, peer == QLatin1String("hang")  ? Response::hang()
                                 : peer == QLatin1String("500") ? Response::status(500, "over quota")
                                                                : Response::ok("{}", "application/json"));
        WebChannelSettings settings;
        settings.kind = Kind(kind);
        settings.url = server.url(kind == int(Kind::Ntfy) || kind == int(Kind::Gotify) ? "/" : "/hook");
        settings.topic = QStringLiteral("netquill-home");
        settings.token = QStringLiteral("tk_secret");
        settings.secret = QStringLiteral("shared");
        if (event == QLatin1String("failing to a file"))
            settings.failUrl = QUrl(QStringLiteral("file:///etc/hostname"));
        WebChannel channel(settings);
        channel.setTimeout(500);
        QSignalSpy finished(&channel, &NoticeChannel::finished);
        Notice notice = change();
        if (event.startsWith(QLatin1String("failing")))
            notice.event = Notice::Event::Failing;
        const quint64 job = channel.send(notice);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 5000);
        const auto result = finished.at(0).at(0).value<ChannelResult>();
        QCOMPARE(result.job, job);
        QCOMPARE(result.delivered, cause.isEmpty());
        QCOMPARE(result.cause, cause);

        QCOMPARE(server.requests().size(), path.isEmpty() ? 0 : 1);
        if (path.isEmpty())
            return;
        const ScriptedHttpServer::Request request = server.requests().at(0);
        QCOMPARE(request.path, path);
        QCOMPARE(request.method, kind == int(Kind::HealthPing) ? QByteArray("GET") : QByteArray("POST"));
        if (!header.isEmpty())
            QCOMPARE(request.header(header.left(header.indexOf(':'))), header.mid(header.indexOf(": ") + 2));
        const QByteArray body = request.raw.mid(request.raw.indexOf("\r\n\r\n") + 4);
        if (kind == int(Kind::Ntfy)) {
            QCOMPARE(request.header("Title"), QByteArray("External address of desk changed"));
            QVERIFY(body.startsWith("External: 203.0.113.7 (was 198.51.100.1)\n"));
        } else if (kind == int(Kind::Gotify)) {
            const QJsonObject message = QJsonDocument::fromJson(body).object();
            QCOMPARE(message.value(QLatin1String("title")).toString(), notice.title());
            QCOMPARE(message.value(QLatin1String("message")).toString(), notice.text());
        } else if (kind == int(Kind::Webhook)) {
            // The receiver checks the signature over the body as received.
            QCOMPARE(
                request.header("X-Netquill-Signature"),
                "sha256=" +
                    QMessageAuthenticationCode::hash(body, "shared", QCryptographicHash::Sha256).toHex());
            const QJsonObject document = QJsonDocument::fromJson(body).object();
            QCOMPARE(document.value(QLatin1String("version")).toInt(), 1);
            QCOMPARE(document.value(QLatin1String("event")).toString(), QStringLiteral("changed"));
            QCOMPARE(document.value(QLatin1String("time")).toString(),
                     QStringLiteral("2026-12-08T06:13:59Z"));
            QCOMPARE(
                document.value(QLatin1String("external")).toObject().value(QLatin1String("new")).toString(),
                QStringLiteral("203.0.113.7"));
        }
    }

    /// Through Debian's apprise command, to its json:// form on a local peer; a peer that refuses fails
    /// the send with the command's words.
    void appriseThroughItsCommand_data()
    {
        QTest::addColumn<bool>("refused");
        QTest::newRow("delivered") << false;
        QTest::newRow("refused") << true;
    }
    void appriseThroughItsCommand()
    {
        QFETCH(bool, refused);
        NETQUILL_REQUIRE(AppriseChannel::program().isEmpty() ? QStringLiteral("apprise is not installed")
                                                             : QString());
        ScriptedHttpServer server;
        server.setResponse("/apprise",
                           refused ? Response::status(500) : Response::ok("{}", "application/json"));
        AppriseChannel channel({QStringLiteral("json://%1/apprise").arg(server.hostAndPort())});
        QSignalSpy finished(&channel, &NoticeChannel::finished);
        const quint64 job = channel.send(change());
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
        const auto result = finished.at(0).at(0).value<ChannelResult>();
        QCOMPARE(result.job, job);
        QCOMPARE(result.delivered, !refused);
        QCOMPARE(result.cause.startsWith(QLatin1String("apprise failed (exit 1)")), refused);
        QVERIFY(!server.requests().isEmpty());
        const QByteArray raw = server.requests().at(0).raw;
        const QJsonObject sent = QJsonDocument::fromJson(raw.mid(raw.indexOf("\r\n\r\n") + 4)).object();
        QCOMPARE(sent.value(QLatin1String("title")).toString(), change().title());
        QCOMPARE(sent.value(QLatin1String("message")).toString(), change().text());
    }

    /// Every channel at once: a refused send is tried again a bounded number of times, and a channel
    /// that never answers holds back no other.
    void fanOutRetriesEachChannelApart()
    {
        ScriptedHttpServer server;
        server.enqueue("/flaky", Response::status(503));
        server.enqueue("/flaky", Response::status(503));
        server.setResponse("/flaky", Response::ok("{}"));
        server.setResponse("/down", Response::status(500));
        server.setResponse("/hangs", Response::hang());
        QList<WebChannel *> channels;
        NoticeFanOut fanOut;
        fanOut.setRetryDelays({50, 100, 150});
        for (const char *path : {"/hangs", "/flaky", "/down"}) {
            WebChannelSettings settings;
            settings.url = server.url(QString::fromLatin1(path));
            channels.append(new WebChannel(settings, &fanOut));
            channels.last()->setTimeout(3000);
            fanOut.add(QString::fromLatin1(path), channels.last());
        }
        QStringList ended;
        connect(&fanOut, &NoticeFanOut::ended, this,
                [&](const QString &name, bool delivered, const QString &, int tries) {
                    ended.append(QStringLiteral("%1 %2 %3").arg(name).arg(delivered).arg(tries));
                });
        fanOut.send(change());
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 2, 2000);
        QCOMPARE(ended, (QStringList{"/flaky 1 3", "/down 0 4"}));
        QCOMPARE(server.requestsFor("/down").size(), 4);
    }
};

NETQUILL_TEST(WebChannelTest)
#include "WebChannelTest.moc"
