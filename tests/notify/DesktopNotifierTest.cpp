#include "DesktopNotifier.h"
#include "TestMain.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>

/// Run twice: on a private bus where dunst is the notification service, and with no bus at all.
class DesktopNotifierTest : public QObject {
    Q_OBJECT
private slots:
    void noticeReachesTheServiceOrSaysWhyNot()
    {
        const bool service = qEnvironmentVariableIsSet("NETQUILL_TEST_NOTIFICATIONS");
        QCOMPARE(DesktopNotifier::available(), service);
        DesktopNotifier notifier;
        QSignalSpy finished(&notifier, &NoticeChannel::finished);
        Notice notice;
        notice.hostName = QStringLiteral("desk");
        notice.externalOld = QStringLiteral("198.51.100.1");
        notice.externalNew = QStringLiteral("203.0.113.7");
        notice.internalOld = notice.internalNew = QStringLiteral("192.168.1.20");
        notice.source = QStringLiteral("<b>page</b>");
        const quint64 job = notifier.send(notice);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, DesktopNotifier::TimeoutMs + 1000);
        const auto result = finished.at(0).at(0).value<ChannelResult>();
        QCOMPARE(result.job, job);
        QCOMPARE(result.delivered, service);
        QCOMPARE(result.cause.isEmpty(), service);
        if (!service)
            return;
        // What the service showed, as it tells it once closed: the title, and a source's markup as text.
        QCOMPARE(QProcess::execute(QStringLiteral("dunstctl"), {QStringLiteral("close-all")}), 0);
        QByteArray shown;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                QProcess history;
                history.start(QStringLiteral("dunstctl"), {QStringLiteral("history")});
                history.waitForFinished(5000);
                shown = history.readAllStandardOutput();
                return shown.contains("desk changed");
            }(),
            5000);
        QVERIFY2(shown.contains("External address of desk changed"), shown.constData());
        QVERIFY2(shown.contains("Source: &lt;b&gt;page&lt;/b&gt;"), shown.constData());
    }
};

NETQUILL_TEST(DesktopNotifierTest)
#include "DesktopNotifierTest.moc"
