#include "frmChangeCommand.h"
#include "SettingsStore.h"
#include "TempSettings.h"
#include "TestMain.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class frmChangeCommandTest : public QObject {
    Q_OBJECT
private slots:
    // What is typed is stored; Test runs what is typed with the addresses it is given and shows how it
    // ended, or why it did not run.
    void testShowsTheOutcome_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("external");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("output");
        QTest::newRow("finished") << QByteArray("echo \"$NETQUILL_EXTERNAL from $NETQUILL_SOURCE\"")
                                  << "203.0.113.7"
                                  << "Command finished"
                                  << "203.0.113.7 from Netquill\n";
        QTest::newRow("failed") << QByteArray("echo nope >&2; exit 3") << "203.0.113.7"
                                << "Error: the command exited with status 3"
                                << "nope\n";
        QTest::newRow("markup") << QByteArray("echo ran") << "<b>203.0.113.7</b>"
                                << "Not run: the external address is not an IP address: <b>203.0.113.7</b>"
                                << "";
    }
    void testShowsTheOutcome()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, external);
        QFETCH(QString, result);
        QFETCH(QString, output);
        TempSettings temp;
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("update dns.sh")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n" + script + "\n");
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString commandLine = QLatin1Char('"') + file.fileName() + QLatin1Char('"');

        SettingsStore store(QStringLiteral("Netquill"));
        const ChangeCommand::Inputs inputs{{QStringLiteral("192.168.1.20"), external},
                                           {QStringLiteral("192.168.1.20"), QStringLiteral("198.51.100.1")},
                                           QStringLiteral("Netquill")};
        frmChangeCommand dialog(store, [&] { return inputs; });
        dialog.setAttribute(Qt::WA_DeleteOnClose, false);
        QTest::keyClicks(dialog.txtCommand, commandLine);
        QCOMPARE(store.GetSetting(SettingKeys::ChangeCommand), commandLine);
        if (result.startsWith(QLatin1String("Error")))
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("exited with status 3")));
        dialog.cmdTest->click();
        QTRY_COMPARE_WITH_TIMEOUT(dialog.lblResult->text(), result, 10000);
        QCOMPARE(dialog.txtOutput->toPlainText(), output);
        QVERIFY(dialog.cmdTest->isEnabled());
    }
};

NETQUILL_TEST(frmChangeCommandTest)
#include "frmChangeCommandTest.moc"
