#include "MetricsFile.h"
#include "FreePort.h"
#include "ProcessStop.h"
#include "TestMain.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

Q_DECLARE_METATYPE(MetricsEvent)

namespace {
using Kind = MetricsEvent::Kind;
const QString FileName = QStringLiteral("netquill.prom");
const QString Info = QStringLiteral("netquill_external_address_info");
constexpr qint64 Start = 1772366400; // 2026-03-01T12:00:00Z

MetricsEvent ok(const QString &address, bool changed, int second, const QString &source = "Netquill page")
{
    return {Kind::LookupOk, QDateTime::fromSecsSinceEpoch(Start + second, Qt::UTC), changed, address, source};
}
MetricsEvent just(Kind kind)
{
    return {kind, QDateTime::fromSecsSinceEpoch(Start + 1000, Qt::UTC), false, {}, {}};
}

// The series always written; a row lists those it expects other than 0.
const QStringList Fixed{"netquill_lookup_success",
                        "netquill_last_success_timestamp_seconds",
                        R"(netquill_lookups_total{result="ok"})",
                        R"(netquill_lookups_total{result="failed"})",
                        R"(netquill_lookups_total{result="disagreement"})",
                        "netquill_address_changes_total",
                        R"(netquill_mails_total{result="sent"})",
                        R"(netquill_mails_total{result="failed"})",
                        R"(netquill_commands_total{result="ok"})",
                        R"(netquill_commands_total{result="failed"})"};

// "series value" for each Netquill series of a file or a scrape, sorted; values as whole numbers, which
// the exporter writes as floats (1.7723664e+09).
QStringList netquillSamples(const QByteArray &text)
{
    QStringList samples;
    for (const QByteArray &line : text.split('\n')) {
        if (!line.startsWith("netquill_"))
            continue;
        const qsizetype space = line.lastIndexOf(' ');
        bool number = false;
        const double value = line.mid(space + 1).toDouble(&number);
        samples.append(QString::fromUtf8(line.left(space)) + u' ' +
                       (number ? QString::number(value, 'f', 0) : QStringLiteral("?")));
    }
    samples.sort();
    return samples;
}

QStringList expectedSamples(const QStringList &notZero)
{
    QStringList samples;
    for (const QString &series : Fixed) {
        const auto listed = std::find_if(notZero.cbegin(), notZero.cend(),
                                         [&](const QString &s) { return s.startsWith(series + u' '); });
        samples.append(listed == notZero.cend() ? series + QStringLiteral(" 0") : *listed);
    }
    for (const QString &s : notZero) {
        if (s.startsWith(Info) || s.startsWith(QLatin1String("netquill_notices_total")))
            samples.append(s);
    }
    samples.sort();
    return samples;
}

QString last(int second)
{
    return QStringLiteral("netquill_last_success_timestamp_seconds %1").arg(Start + second);
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size() &&
           file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
}

/// A real node_exporter with only its textfile collector, reading a folder of its own.
class NodeExporter {
public:
    NodeExporter() { m_network.setProxy(QNetworkProxy::NoProxy); }
    ~NodeExporter() { stopProcess(m_process); }

    static QString binary()
    {
        if (QFile::exists(QStringLiteral("/usr/bin/prometheus-node-exporter")))
            return QStringLiteral("/usr/bin/prometheus-node-exporter");
        return QStandardPaths::findExecutable(QStringLiteral("node_exporter"));
    }
    static QString missing()
    {
        return binary().isEmpty() ? QStringLiteral("prometheus-node-exporter is not installed") : QString();
    }

    bool start(QString &error)
    {
        m_port = FreePort::pick();
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(binary(), {QStringLiteral("--collector.disable-defaults"),
                                   QStringLiteral("--collector.textfile"),
                                   QStringLiteral("--collector.textfile.directory=") + m_folder.path(),
                                   QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(m_port)});
        const bool listening = m_process.waitForStarted(5000) &&
                               QTest::qWaitFor(
                                   [this] {
                                       QTcpSocket probe;
                                       probe.connectToHost(QStringLiteral("127.0.0.1"), m_port);
                                       return probe.waitForConnected(200);
                                   },
                                   10000);
        if (!listening)
            error = QStringLiteral("node_exporter does not listen: ") +
                    QString::fromLocal8Bit(m_process.readAll());
        return listening;
    }
    QString file() const { return m_folder.filePath(FileName); }
    QNetworkReply *scrape()
    {
        return m_network.get(
            QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/metrics").arg(m_port))));
    }
    /// The exporter's answer, or "" when it gave none within a few seconds.
    QByteArray scrapeNow()
    {
        std::unique_ptr<QNetworkReply> reply(scrape());
        if (!QTest::qWaitFor([&] { return reply->isFinished(); }, 5000) ||
            reply->error() != QNetworkReply::NoError)
            return {};
        return reply->readAll();
    }

private:
    QTemporaryDir m_folder;
    QProcess m_process;
    quint16 m_port = 0;
    QNetworkAccessManager m_network;
};
} // namespace

class MetricsFileTest : public QObject {
    Q_OBJECT
private slots:
    void record_data();
    void record();
    void unwritableIsAnError_data();
    void unwritableIsAnError();
    void exporterReadsTheFile_data()
    {
        NETQUILL_REQUIRE(NodeExporter::missing());
        record_data();
    }
    void exporterReadsTheFile();
    void exporterNeverSeesAHalfFile();

private:
    void recordRow(const QString &path);
    bool startExporter();

    std::unique_ptr<NodeExporter> m_exporter;
};

void MetricsFileTest::record_data()
{
    QTest::addColumn<QByteArray>("before"); // the file as another run left it
    QTest::addColumn<QList<MetricsEvent>>("events");
    QTest::addColumn<QStringList>("notZero"); // the series expected other than 0
    QTest::addColumn<QString>("warning");     // logged about the file before

    const QString a = QStringLiteral("203.0.113.7");
    const QString infoA = Info + R"({address="203.0.113.7",family="ipv4",source="Netquill page"} 1)";
    const QString oneOk = R"(netquill_lookups_total{result="ok"} 1)";
    QTest::newRow("every kind, counted on by the next writer")
        << QByteArray()
        << QList{ok(a, false, 1),           just(Kind::LookupFailed),      ok(a, false, 3),
                 just(Kind::MailSent),      just(Kind::MailFailed),        just(Kind::MailSent),
                 just(Kind::CommandFailed), just(Kind::CommandOk),         just(Kind::CommandFailed),
                 ok(a, false, 4),           just(Kind::LookupDisagreement)}
        << QStringList{last(4),
                       R"(netquill_lookups_total{result="ok"} 3)",
                       R"(netquill_lookups_total{result="failed"} 1)",
                       R"(netquill_lookups_total{result="disagreement"} 1)",
                       R"(netquill_mails_total{result="sent"} 2)",
                       R"(netquill_mails_total{result="failed"} 1)",
                       R"(netquill_commands_total{result="ok"} 1)",
                       R"(netquill_commands_total{result="failed"} 2)",
                       infoA}
        << "";
    MetricsEvent phone = just(Kind::NoticeSent), hook = just(Kind::NoticeFailed);
    phone.source = QStringLiteral("phone");
    hook.source = QStringLiteral("hook");
    QTest::newRow("notices by channel, counted on by the next writer")
        << QByteArray() << QList{ok(a, false, 1), phone, hook, phone}
        << QStringList{"netquill_lookup_success 1",
                       last(1),
                       oneOk,
                       infoA,
                       R"(netquill_notices_total{channel="phone",result="sent"} 2)",
                       R"(netquill_notices_total{channel="phone",result="failed"} 0)",
                       R"(netquill_notices_total{channel="hook",result="sent"} 0)",
                       R"(netquill_notices_total{channel="hook",result="failed"} 1)"}
        << "";
    QTest::newRow("a failure keeps the last success and the address")
        << QByteArray() << QList{ok(a, false, 5), just(Kind::LookupFailed)}
        << QStringList{last(5), oneOk, R"(netquill_lookups_total{result="failed"} 1)", infoA} << "";
    QTest::newRow("changes count; one address series, the newest")
        << QByteArray()
        << QList{ok(a, false, 1), ok("198.51.100.1", true, 2), ok("2001:db8::7", true, 3, "dns")}
        << QStringList{"netquill_lookup_success 1", last(3), R"(netquill_lookups_total{result="ok"} 3)",
                       "netquill_address_changes_total 2",
                       Info + R"({address="2001:db8::7",family="ipv6",source="dns"} 1)"}
        << "";
    QTest::newRow("a page's body: escaped, cut, carried on")
        << QByteArray()
        << QList{ok("a\"b\\c\n</p>" + QString(100, u'x'), true, 5, "my \"page\""), just(Kind::LookupFailed)}
        << QStringList{last(5), oneOk, R"(netquill_lookups_total{result="failed"} 1)",
                       "netquill_address_changes_total 1",
                       Info + R"({address="a\"b\\c\n</p>)" + QString(54, u'x') +
                           R"(",family="",source="my \"page\""} 1)"}
        << "";
    QTest::newRow("cut before a character, not inside it")
        << QByteArray() << QList{ok(QString(63, u'x') + QStringLiteral("\U0001F600"), false, 5)}
        << QStringList{"netquill_lookup_success 1", last(5), oneOk,
                       Info + R"({address=")" + QString(63, u'x') +
                           R"(",family="",source="Netquill page"} 1)"}
        << "";

    const QByteArray earlier = "# HELP netquill_lookup_success as this program writes first\n"
                               "netquill_lookup_success 1\n"
                               "netquill_last_success_timestamp_seconds 1772366402\n"
                               "netquill_lookups_total{result=\"ok\"} 41\n"
                               "netquill_address_changes_total\t3\n"
                               "netquill_a_newer_series{kind=\"x\"} 5\n"
                               "netquill_external_address_info{address=\"198.51.100.1\",family=\"ipv4\","
                               "source=\"dns \\\"a\\\"\"} 1\n";
    const QStringList carried{last(2), R"(netquill_lookups_total{result="ok"} 41)",
                              R"(netquill_lookups_total{result="failed"} 1)",
                              "netquill_address_changes_total 3",
                              Info + R"({address="198.51.100.1",family="ipv4",source="dns \"a\""} 1)"};
    QTest::newRow("counts on from an earlier file")
        << earlier << QList{just(Kind::LookupFailed)} << carried << "";

    const QStringList fresh{"netquill_lookup_success 1", last(5), oneOk, infoA};
    const auto damaged = [&](const char *name, const QByteArray &before, const QString &warning) {
        QTest::newRow(name) << before << QList{ok(a, false, 5)} << fresh << warning;
    };
    damaged("a cut line", earlier + "netquill_lookups_total{result=\"failed\"",
            "line 8 holds an unterminated");
    damaged("a value that is no number", earlier + "netquill_mails_total{result=\"sent\"} many\n",
            "line 8 holds a repeated or impossible value");
    damaged("a repeated series", earlier + earlier, "line 9 holds a repeated");
    damaged("a second address series",
            earlier + "netquill_external_address_info{address=\"x\",family=\"\","
                      "source=\"\"} 1\n",
            "line 8 holds a second");
    damaged("another program's series", earlier + "node_cpu_seconds_total{cpu=\"0\"} 5\n",
            "node_cpu_seconds_total, no series");
    damaged("larger than the bound", earlier + '#' + QByteArray(MetricsFile::MaxBytes, 'x') + '\n',
            "larger than 1 MiB");
}

// Writes the row's file before, then records its events through two MetricsFile objects in turn, as two
// runs of the service would.
void MetricsFileTest::recordRow(const QString &path)
{
    QFETCH(QByteArray, before);
    QFETCH(QList<MetricsEvent>, events);
    QFETCH(QString, warning);

    QVERIFY(before.isEmpty() || writeFile(path, before));
    if (warning.isEmpty())
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
    else
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot carry the counters on from .*" +
                                                              QRegularExpression::escape(warning)));
#ifdef Q_OS_UNIX
    // The exporter reads as another user, whatever the umask of the writer.
    const auto restore = qScopeGuard([umask = ::umask(077)] { ::umask(umask); });
#endif
    const MetricsFile first(path), second(path);
    for (qsizetype i = 0; i < events.size(); ++i) {
        QString error;
        QVERIFY2((i % 2 ? second : first).record(events.at(i), &error), qPrintable(error));
    }
    QCOMPARE(QFileInfo(path).permissions() & 0x7077, QFile::Permissions(0x6044));
    QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden), QStringList{FileName});
}

void MetricsFileTest::record()
{
    QFETCH(QStringList, notZero);
    QTemporaryDir dir;
    const QString path = dir.filePath(FileName);
    recordRow(path);
    if (QTest::currentTestFailed())
        return;
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(netquillSamples(file.readAll()), expectedSamples(notZero));
}

void MetricsFileTest::unwritableIsAnError_data()
{
    QTest::addColumn<QString>("path"); // in a folder of the files below
    QTest::addColumn<QString>("cause");
    QTest::newRow("no such folder") << "missing/" + FileName << "";
    QTest::newRow("the folder is a file") << "file/" + FileName << "";
    QTest::newRow("the file is a folder") << "folder"
                                          << "folder is a folder";
    QTest::newRow("a link to the owner's file") << "link.prom"
                                                << "link.prom is a symbolic link";
    QTest::newRow("a link to nothing") << "dangling.prom"
                                       << "dangling.prom is a symbolic link";
    QTest::newRow("another program's file") << "node.prom"
                                            << "node.prom was not written by Netquill";
    QTest::newRow("binary") << "binary.prom"
                            << "binary.prom was not written by Netquill";
}

void MetricsFileTest::unwritableIsAnError()
{
    QFETCH(QString, path);
    QFETCH(QString, cause);
    QTemporaryDir dir;
    QRandomGenerator random(7);
    QByteArray binary(4096, Qt::Uninitialized);
    for (char &c : binary)
        c = char(random.bounded(256));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("file")), "x"));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("node.prom")), "node_cpu_seconds_total{cpu=\"0\"} 5\n"));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("binary.prom")), binary));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    // What the link leads to is a file Netquill would replace: the link alone must stop it.
    QVERIFY(
        writeFile(dir.filePath(QStringLiteral("own")), "# HELP netquill_lookup_success of another run\n"));
    QVERIFY(QFile::link(QStringLiteral("own"), dir.filePath(QStringLiteral("link.prom"))));
    QVERIFY(QFile::link(QStringLiteral("missing.prom"), dir.filePath(QStringLiteral("dangling.prom"))));
    // Each entry as it is: a link's target, a file's mode and content.
    const auto entries = [&dir] {
        QStringList entries;
        for (const QFileInfo &info :
             QDir(dir.path())
                 .entryInfoList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                                QDir::Name)) {
            QFile file(info.filePath());
            const QByteArray content =
                !info.isSymLink() && file.open(QIODevice::ReadOnly) ? file.readAll() : "";
            entries.append(info.fileName() + u' ' + info.symLinkTarget() + u' ' +
                           QString::number(info.permissions().toInt()) + u' ' +
                           QString::fromLatin1(content.toHex()));
        }
        return entries;
    };
    const QStringList before = entries();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot write .*") + path + " - .*" +
                                                          QRegularExpression::escape(cause)));
    QString error;
    QVERIFY(!MetricsFile(dir.filePath(path)).record(ok("203.0.113.7", false, 5), &error));
    QVERIFY(!error.isEmpty() && error.contains(cause));
    QCOMPARE(entries(), before);
}

bool MetricsFileTest::startExporter()
{
    if (m_exporter)
        return true;
    auto exporter = std::make_unique<NodeExporter>();
    QString error;
    if (!exporter->start(error)) {
        qWarning("%s", qPrintable(error));
        return false;
    }
    m_exporter = std::move(exporter);
    return true;
}

// The same rows, read through node_exporter as Prometheus would scrape them.
void MetricsFileTest::exporterReadsTheFile()
{
    QFETCH(QStringList, notZero);
    QVERIFY(startExporter());
    QFile::remove(m_exporter->file());
    recordRow(m_exporter->file());
    if (QTest::currentTestFailed())
        return;
    const QByteArray scraped = m_exporter->scrapeNow();
    QVERIFY2(scraped.contains("\nnode_textfile_scrape_error 0\n"), scraped.constData());
    QCOMPARE(netquillSamples(scraped), expectedSamples(notZero));
    for (const char *type : {"lookup_success gauge", "last_success_timestamp_seconds gauge",
                             "lookups_total counter", "address_changes_total counter", "mails_total counter",
                             "commands_total counter", "external_address_info gauge"})
        QVERIFY2(scraped.contains("\n# TYPE netquill_" + QByteArray(type) + '\n'), type);
}

// The exporter reads the file at any moment, here while it is written again and again: every scrape
// must find a whole file, the lookups counted so far included.
void MetricsFileTest::exporterNeverSeesAHalfFile()
{
    NETQUILL_REQUIRE(NodeExporter::missing());
    QVERIFY(startExporter());
    QFile::remove(m_exporter->file());
    const MetricsFile metrics(m_exporter->file());
    QVERIFY(metrics.record(ok(QString(60, u'x'), false, 0)));

    constexpr int Scrapes = 300;
    int scrapes = 0;
    int records = 1;
    double lookups = 1;
    QString fault;
    std::unique_ptr<QNetworkReply> reply(m_exporter->scrape());
    QElapsedTimer timer;
    timer.start();
    while (scrapes < Scrapes && fault.isEmpty() && timer.elapsed() < 60000) {
        const bool changed = records % 2;
        const MetricsEvent event = records % 3 ? ok(changed ? "203.0.113.7" : "2001:db8::7", changed, records)
                                               : just(Kind::LookupFailed);
        if (!metrics.record(event))
            fault = QStringLiteral("record %1 failed").arg(records);
        ++records;
        QCoreApplication::processEvents();
        if (!reply->isFinished())
            continue;
        const QByteArray scraped = reply->readAll();
        double seen = 0;
        for (const QString &sample : netquillSamples(scraped)) {
            if (sample.startsWith(QStringLiteral("netquill_lookups_total")))
                seen += sample.section(u' ', -1).toDouble();
        }
        if (reply->error() != QNetworkReply::NoError)
            fault = reply->errorString();
        else if (!scraped.contains("\nnode_textfile_scrape_error 0\n"))
            fault = QStringLiteral("scrape %1 failed to read the file").arg(scrapes);
        else if (seen < lookups)
            fault = QStringLiteral("scrape %1 found %2 lookups after %3").arg(scrapes).arg(seen).arg(lookups);
        lookups = seen;
        ++scrapes;
        reply.reset(m_exporter->scrape());
    }
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    QCOMPARE(scrapes, Scrapes);
    // Else the writes and the reads hardly overlapped, and the check proves little.
    QVERIFY2(records >= scrapes, qPrintable(QString::number(records)));
}

NETQUILL_TEST(MetricsFileTest)
#include "MetricsFileTest.moc"
