#include "TestMain.h"
#include "modOnTop.h"
#include "xfileExists.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

class HelpersTest : public QObject {
    Q_OBJECT
private slots:
    void fileNamePart_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("several folders") << "C:\\Program Files\\Netquill\\Help.rtf"
                                         << "Help.rtf";
        QTest::newRow("bare name") << "Help.rtf"
                                   << "Help.rtf";
        QTest::newRow("ends in backslash") << "C:\\Netquill\\"
                                           << "";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("forward slashes are not separators") << "a/b/c.txt"
                                                            << "a/b/c.txt";
        QTest::newRow("mixed") << "a\\b/c.txt"
                               << "b/c.txt";
    }
    void fileNamePart()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(xfileExists::FileNamePart(path), expected);
    }

    void fileExists_data()
    {
        QTest::addColumn<QString>("relative"); // below a folder holding Help.rtf, .hidden, sub/ and a socket
        QTest::addColumn<bool>("expected");
        QTest::newRow("exact name") << "Help.rtf" << true;
        QTest::newRow("upper case") << "HELP.RTF" << true;
        QTest::newRow("lower case") << "help.rtf" << true;
        QTest::newRow("folder") << "sub" << false;
        QTest::newRow("folder with trailing slash") << "sub/" << false;
        QTest::newRow("missing file") << "Missing.rtf" << false;
        QTest::newRow("missing folder") << "nowhere/Help.rtf" << false;
        QTest::newRow("hidden file") << ".hidden" << false;
        QTest::newRow("wildcard") << "*.rtf" << false;
        QTest::newRow("single-character wildcard") << "Help.rt?" << false;
        QTest::newRow("socket") << "sock" << false;
        QTest::newRow("file in a sub-folder") << "sub/inner.txt" << true;
    }
    void fileExists()
    {
        QFETCH(QString, relative);
        QFETCH(bool, expected);
        QTemporaryDir dir;
        for (const QString &name : {QStringLiteral("Help.rtf"), QStringLiteral(".hidden")}) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
        QFile inner(dir.filePath(QStringLiteral("sub/inner.txt")));
        QVERIFY(inner.open(QIODevice::WriteOnly));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray socketPath = QFile::encodeName(dir.filePath(QStringLiteral("sock")));
        qstrncpy(address.sun_path, socketPath.constData(), sizeof address.sun_path);
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);

        QCOMPARE(xfileExists::FileExists(dir.filePath(relative)), expected);
        ::close(fd);
    }

    void emptyPathIsNotAFile() { QVERIFY(!xfileExists::FileExists(QString())); }

    void alwaysOnTopKeepsPlaceAndVisibility()
    {
        QWidget window;
        window.setGeometry(40, 50, 200, 100);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        modOnTop::SetAlwaysOnTop(&window, true);
        QVERIFY(window.windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(window.isVisible());
        QCOMPARE(window.geometry().size(), QSize(200, 100));
        modOnTop::SetAlwaysOnTop(&window, true);
        QVERIFY(window.windowFlags() & Qt::WindowStaysOnTopHint);
        modOnTop::SetAlwaysOnTop(&window, false);
        QVERIFY(!(window.windowFlags() & Qt::WindowStaysOnTopHint));
        QVERIFY(window.isVisible());

        QWidget hidden;
        modOnTop::SetAlwaysOnTop(&hidden, true);
        QVERIFY(!hidden.isVisible()); // a hidden window is not shown by the change
    }
};

NETQUILL_TEST(HelpersTest)
#include "HelpersTest.moc"
