#include "AddressHistory.h"
#include "AddressMonitor.h"
#include "LookupCycle.h"
#include "ScriptedHttpServer.h"
#include "SettingsStore.h"
#include "TempSettings.h"
#include "TestMain.h"
#include "Winsock.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <array>

namespace {
using Event = AddressHistory::Event;
using Kind = AddressHistory::Kind;
const QByteArray PagePath = "/extras/GetExternalIP.asp";

QDateTime at(int second)
{
    return QDateTime(QDate(2026, 3, 1), QTime(12, 0, second), Qt::UTC);
}

// "kind old new", for comparing a history at a glance.
QStringList brief(const QList<Event> &events)
{
    QStringList lines;
    for (const Event &event : events)
        lines.append(AddressHistory::kindName(event.kind) + u' ' + event.oldValue + u' ' + event.newValue);
    return lines;
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

QByteArray randomBytes(qsizetype size)
{
    QRandomGenerator random(7);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(random.bounded(256));
    return bytes;
}

/// Points the history at a folder of its own for the life of the object.
struct TempState {
    QTemporaryDir dir;
    QByteArray old = qgetenv("XDG_STATE_HOME");
    TempState() { qputenv("XDG_STATE_HOME", dir.path().toLocal8Bit()); }
    ~TempState() { qputenv("XDG_STATE_HOME", old); }
    QString file() const { return dir.path() + QStringLiteral("/Netquill/history.csv"); }
};
} // namespace

class AddressHistoryTest : public QObject {
    Q_OBJECT
private slots:
    // The model over real lookups of a scripted page: "ok:<address>" answers, "fail" is a server error.
    void lookupsWriteChangesAndOutages_data()
    {
        QTest::addColumn<QString>("storedInternal");
        QTest::addColumn<QString>("storedExternal");
        QTest::addColumn<QByteArray>("before"); // the file as the last run left it
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QStringList>("expected"); // LAN: the machine's own address

        const QStringList recovery{"ok:203.0.113.7", "fail", "fail", "ok:203.0.113.7"};
        QTest::newRow("nothing recorded yet: no change")
            << "0"
            << "0" << QByteArray() << QStringList{"ok:203.0.113.7"} << QStringList{};
        QTest::newRow("change, outage, recovery")
            << "10.255.255.1"
            << "198.51.100.1" << QByteArray() << recovery
            << QStringList{"internal 10.255.255.1 LAN", "external 198.51.100.1 203.0.113.7",
                           "failing  " + LookupCycle::StatusFailed,
                           "working  " + LookupCycle::StatusFinished};
        QTest::newRow("same addresses, starting offline")
            << "LAN"
            << "203.0.113.7" << QByteArray() << QStringList{"fail", "ok:203.0.113.7"}
            << QStringList{"failing  " + LookupCycle::StatusFailed,
                           "working  " + LookupCycle::StatusFinished};
        const QByteArray outage = "2026-03-01T12:00:00Z,failing,,Error: Connection not available.,\n";
        QTest::newRow("an outage the last run left open is not started again")
            << "LAN"
            << "203.0.113.7" << outage << QStringList{"fail", "ok:203.0.113.7"}
            << QStringList{"working  " + LookupCycle::StatusFinished};
        QTest::newRow("an outage the last run left open ends at the first lookup")
            << "LAN"
            << "203.0.113.7" << outage << QStringList{"ok:203.0.113.7"}
            << QStringList{"working  " + LookupCycle::StatusFinished};
        QTest::newRow("a folder where the file goes: the lookups go on")
            << "LAN"
            << "198.51.100.1" << QByteArray("<folder>") << recovery << QStringList{};
        QTest::newRow("no home and no state folder: no history, none under /")
            << "LAN"
            << "198.51.100.1" << QByteArray("<no home>") << recovery << QStringList{};
    }
    void lookupsWriteChangesAndOutages()
    {
        QFETCH(QString, storedInternal);
        QFETCH(QString, storedExternal);
        QFETCH(QByteArray, before);
        QFETCH(QStringList, answers);
        QFETCH(QStringList, expected);

        const QString lan = Winsock::LocalIP();
        QVERIFY(lan != QStringLiteral("10.255.255.1"));
        TempState state;
        TempSettings temp;
        ScriptedHttpServer server;
        QVERIFY(server.isListening());
        qputenv("NETQUILL_IP_HOST", server.hostAndPort().toLatin1());
        SettingsStore store(QStringLiteral("Netquill"));
        store.SaveSetting(SettingKeys::OldInternal, storedInternal.replace(QStringLiteral("LAN"), lan));
        store.SaveSetting(SettingKeys::OldExternal, storedExternal);
        const bool homeless = before == "<no home>";
        const QByteArray home = qgetenv("HOME");
        if (homeless) {
            qunsetenv("HOME");
            qunsetenv("XDG_STATE_HOME");
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("No history is kept")));
            before.clear();
        }
        const bool blocked = before == "<folder>";
        if (blocked) {
            QVERIFY(QDir().mkpath(state.file()));
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression(QStringLiteral("cannot open .*history.csv")));
            before.clear();
        } else if (!before.isEmpty()) {
            QVERIFY(QDir().mkpath(QFileInfo(state.file()).path()));
            QVERIFY(writeFile(state.file(), before));
        }
        AddressMonitor monitor(store);
        qunsetenv("NETQUILL_IP_HOST");
        QCOMPARE(monitor.historyFile(), homeless ? QString() : state.file());
        qputenv("HOME", home);
        monitor.Load();
        QString status;
        connect(&monitor, &AddressMonitor::statusChanged, this, [&](const QString &text) { status = text; });

        for (const QString &answer : std::as_const(answers)) {
            if (answer == QStringLiteral("fail"))
                server.enqueue(PagePath, ScriptedHttpServer::Response::status(500));
            else
                server.enqueue(PagePath, ScriptedHttpServer::Response::ok(answer.mid(3).toLatin1()));
            status.clear();
            monitor.Refresh();
            QTRY_VERIFY_WITH_TIMEOUT(
                status == LookupCycle::StatusFinished || status == LookupCycle::StatusFailed, 5000);
        }
        QCOMPARE(status, LookupCycle::StatusFinished);
        QCOMPARE(store.GetSetting(SettingKeys::OldExternal), QStringLiteral("203.0.113.7"));
        QVERIFY(!QFileInfo::exists(QStringLiteral("/.local/state/Netquill")));
        const QList<Event> events = AddressHistory::read(state.file());
        QStringList got = brief(events);
        got.replaceInStrings(lan, QStringLiteral("LAN"));
        if (!before.isEmpty())
            QCOMPARE(got.takeFirst(), "failing  " + LookupCycle::StatusFailed);
        QCOMPARE(got, expected);
        for (const Event &event : events.mid(before.isEmpty() ? 0 : 1)) {
            QVERIFY(qAbs(event.when.secsTo(QDateTime::currentDateTimeUtc())) < 60);
            const bool answered = event.kind != Kind::Failing;
            QCOMPARE(event.source.startsWith(QStringLiteral("Netquill page at 127.0.0.1:")), answered);
        }
    }

    // Good lines among damage; the next append still lands on a line of its own.
    void damagedFileKeepsItsGoodLines_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<bool>("damaged");

        const QByteArray a = "2026-03-01T12:00:01Z,external,198.51.100.1,203.0.113.7,Netquill page\n";
        const QByteArray b = "2026-03-01T12:00:02Z,failing,,Error: Connection not available.,\n";
        const QStringList both{"external 198.51.100.1 203.0.113.7",
                               "failing  Error: Connection not available."};
        QTest::newRow("clean") << a + b << both << false;
        QTest::newRow("blank lines and CRLF") << "\n" + a.chopped(1) + "\r\n\n" + b << both << false;
        QTest::newRow("garbage lines") << "hello\n" + a + "1,2,3\nnot,a,time,x,y\n" + b + "x\n"
                                       << both << true;
        QTest::newRow("unknown event word") << a + "2026-03-01T12:00:03Z,moved,a,b,c\n" + b << both << true;
        QTest::newRow("unbalanced quote does not swallow the next lines")
            << "2026-03-01T12:00:00Z,external,\"198.51,x,y,z\n" + a + b << both << true;
        QTest::newRow("text after a closing quote")
            << a + "2026-03-01T12:00:00Z,external,\"a\"b,c,d\n" + b << both << true;
        QTest::newRow("truncated last line") << a + b + "2026-03-01T12:00:03Z,exter" << both << true;
        QTest::newRow("truncated inside a quoted value")
            << a + b + "2026-03-01T12:00:03Z,external,\"1" << both << true;
        QTest::newRow("binary") << QByteArray("\x00\xff\xfe\x01\n", 5) + a + "\x89PNG\r\n\x1a\n" + b << both
                                << true;
        QTest::newRow("invalid UTF-8 in a value")
            << a + "2026-03-01T12:00:03Z,external,\xc3,b,c\n" + b << both << true;
        QTest::newRow("overlong value")
            << a + "2026-03-01T12:00:03Z,external,a," + QByteArray(4000, '1') + ",c\n" + b << both << true;
        QTest::newRow("only damage") << QByteArray("\x01\x02\x03") << QStringList{} << true;
    }
    void damagedFileKeepsItsGoodLines()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, expected);
        QFETCH(bool, damaged);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("history.csv"));
        QVERIFY(writeFile(path, content));
        if (damaged)
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression(QStringLiteral("skipped \\d+ damaged line")));
        QCOMPARE(brief(AddressHistory::read(path)), expected);

        const Event added{at(9), Kind::Internal, QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.2"),
                          QStringLiteral("Netquill page")};
        QVERIFY(AddressHistory(path).append(added));
        // Reported once: reading the same file again says nothing more.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("damaged")));
        const QList<Event> after = AddressHistory::read(path);
        QCOMPARE(after.size(), expected.size() + 1);
        QCOMPARE(after.last(), added);
    }

    // Past the bound the oldest lines go; a file with nothing readable in the part a trim would keep
    // is kept aside instead, whole, and a new one started.
    void fileStaysUnderTheBound_data()
    {
        QTest::addColumn<QByteArray>("oldest");
        QTest::addColumn<qint64>("recordBytes"); // numbered records after `oldest`, at least this many bytes
        QTest::addColumn<QByteArray>("newest");  // after the records
        QTest::addColumn<bool>("damaged");

        const QByteArray noise = randomBytes(AddressHistory::MaxBytes + 100 * 1024);
        QByteArray markup = "2026-03-01T12:00:00Z,external,198.51.100.1,\"";
        while (markup.size() <= AddressHistory::MaxBytes)
            markup += "<p class=x>Your address, as seen from here:</p>\n";
        QTest::newRow("records") << QByteArray() << AddressHistory::MaxBytes + 1 << QByteArray() << false;
        QTest::newRow("damage among the oldest lines only")
            << noise.left(200 * 1024) << AddressHistory::TrimmedBytes + 1 << QByteArray() << false;
        QTest::newRow("random bytes") << noise << qint64(0) << QByteArray() << true;
        QTest::newRow("one 50 MB line") << QByteArray(50 << 20, '7') << qint64(0) << QByteArray() << true;
        QTest::newRow("an open quote") << markup << qint64(0) << QByteArray() << true;
        QTest::newRow("records, then damage") << QByteArray() << qint64(64 * 1024) << noise << true;
    }
    void fileStaysUnderTheBound()
    {
        QFETCH(QByteArray, oldest);
        QFETCH(qint64, recordBytes);
        QFETCH(QByteArray, newest);
        QFETCH(bool, damaged);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("history.csv"));
        QByteArray records;
        int written = 0;
        while (records.size() < recordBytes) {
            records += AddressHistory::formatLine(
                {at(0), Kind::External, QString::number(written), QStringLiteral("203.0.113.7"),
                 QStringLiteral("value, with \"quotes\"\nand a line break")});
            ++written;
        }
        const Event added{at(1), Kind::Working, {}, LookupCycle::StatusFinished, QStringLiteral("x")};
        const QByteArray line = AddressHistory::formatLine(added);
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
        // A damaged file twice: the second one kept does not replace the first.
        QByteArrayList kept;
        for (int round = 0; round < (damaged ? 2 : 1); ++round) {
            const QByteArray content = QByteArray(round, 'x') + oldest + records + newest;
            QVERIFY(writeFile(path, content));
            if (damaged && round == 0) {
                QTest::ignoreMessage(QtWarningMsg,
                                     QRegularExpression(QStringLiteral("no line in its newest \\d+ bytes")));
                QCOMPARE(AddressHistory::read(path), QList<Event>{});
            }
            if (damaged)
                QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral(
                                                       "is readable: kept as .*/history\\.csv\\.damaged-")));
            QVERIFY(AddressHistory(path).append(added));
            kept.append(content + (content.endsWith('\n') ? "" : "\n") + line);
        }
        const QStringList aside =
            QDir(dir.path()).entryList({QStringLiteral("history.csv.damaged-*")}, QDir::Files, QDir::Name);
        if (damaged) {
            QCOMPARE(aside.size(), kept.size());
            for (int i = 0; i < aside.size(); ++i) {
                QFile file(dir.filePath(aside.at(i)));
                QVERIFY(file.open(QIODevice::ReadOnly));
                QVERIFY(file.readAll() == kept.at(i));
            }
            QCOMPARE(AddressHistory::read(path), QList<Event>{added});
            // Made anew, not after the damaged file (which this test wrote readable by all).
            QCOMPARE(QFileInfo(path).permissions() & (QFile::ReadGroup | QFile::ReadOther),
                     QFile::Permissions());
            return;
        }
        QCOMPARE(aside, QStringList{});
        QVERIFY(QFileInfo(path).size() <= AddressHistory::MaxBytes);
        const QList<Event> events = AddressHistory::read(path);
        QCOMPARE(events.last(), added);
        QVERIFY(events.size() > 100);
        // The newest lines are kept, one after another, and the oldest are gone.
        const int first = events.first().oldValue.toInt();
        QVERIFY(first > 0);
        for (int i = 0; i + 1 < events.size(); ++i)
            QCOMPARE(events.at(i).oldValue.toInt(), first + i);
        QCOMPARE(events.at(events.size() - 2).oldValue.toInt(), written - 1);
    }

    // The program and the service appending to one file, while their appends trim it: no line is lost.
    void twoProcessesLoseNoLine()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("history.csv"));
        const qint64 maxBytes = 8 * 1024; // a trim every few appends
        const QStringList names{QStringLiteral("program"), QStringLiteral("service")};
        // Both stop at the same time, so that the newest lines of each are still in the file.
        const QString until = QString::number(QDateTime::currentMSecsSinceEpoch() + 1500);
        std::array<QProcess, 2> writers;
        for (int i = 0; i < 2; ++i)
            writers[i].start(QCoreApplication::applicationDirPath() + QStringLiteral("/history_writer"),
                             {path, QString::number(maxBytes), names[i], until});
        std::array<int, 2> counts{};
        for (int i = 0; i < 2; ++i) {
            QVERIFY(writers[i].waitForFinished(10000));
            QCOMPARE(writers[i].exitStatus(), QProcess::NormalExit);
            QCOMPARE(writers[i].exitCode(), 0);
            QCOMPARE(writers[i].readAllStandardError(), QByteArray());
            counts[i] = writers[i].readAllStandardOutput().trimmed().toInt();
            QVERIFY2(counts[i] > 100, qPrintable(names.at(i))); // enough trims under way to lose a line
        }

        QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
        const QList<Event> events = AddressHistory::read(path);
        QVERIFY(QFileInfo(path).size() <= maxBytes);
        QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("*.damaged-*")}), QStringList{});
        for (int i = 0; i < 2; ++i) {
            QList<int> numbers;
            for (const Event &event : events) {
                if (event.source == names.at(i))
                    numbers.append(event.oldValue.toInt());
            }
            // Each writer's newest lines, trimmed at the oldest end only, and none missing in between.
            QVERIFY2(!numbers.isEmpty() && numbers.first() > 0, qPrintable(names.at(i)));
            for (int k = 1; k < numbers.size(); ++k)
                QCOMPARE(numbers.at(k), numbers.at(k - 1) + 1);
            QCOMPARE(numbers.last(), counts[i] - 1);
        }
    }

    void valuesSurviveTheRoundTrip_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("plain") << QStringLiteral("203.0.113.7");
        QTest::newRow("empty") << QString();
        QTest::newRow("comma") << QStringLiteral("a,b");
        QTest::newRow("quotes") << QStringLiteral("\"x\" said \"\"y\"\"");
        QTest::newRow("newline") << QStringLiteral("203.0.113.7\n");
        QTest::newRow("CRLF inside") << QStringLiteral("a\r\nb,\"c\"");
        QTest::newRow("escape sequence") << QStringLiteral("\x1b]0;title\x07<b>x</b>");
        QTest::newRow("non-ASCII") << QStringLiteral("fe80::1%\u00e9th0 \u2014 \U0001F600");
    }
    void valuesSurviveTheRoundTrip()
    {
        QFETCH(QString, value);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("history.csv"));
        const Event event{at(5), Kind::External, value, value, value};
        const Event after{at(6), Kind::Failing, {}, LookupCycle::StatusFailed, {}};
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
        AddressHistory history(path);
        QVERIFY(history.append(event));
        QVERIFY(history.append(after));
        QCOMPARE(AddressHistory::read(path), (QList<Event>{event, after}));
        // The addresses are the user's own business.
        QCOMPARE(QFileInfo(path).permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());

        const QJsonArray array = QJsonDocument::fromJson(AddressHistory::json({event})).array();
        QCOMPARE(array.size(), 1);
        QCOMPARE(array.at(0).toObject().value(QStringLiteral("old")).toString(), value);
        QCOMPARE(array.at(0).toObject().value(QStringLiteral("time")).toString(),
                 QStringLiteral("2026-03-01T12:00:05Z"));
        const QStringList text = AddressHistory::textLines({event});
        QCOMPARE(text.size(), 1);
        QVERIFY(std::none_of(text.first().cbegin(), text.first().cend(),
                             [](QChar c) { return c.category() == QChar::Other_Control; }));
    }
};

NETQUILL_TEST(AddressHistoryTest)
#include "AddressHistoryTest.moc"
