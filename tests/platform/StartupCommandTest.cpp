#include "StartupCommand.h"
#include "TestMain.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

class StartupCommandTest : public QObject {
    Q_OBJECT
private slots:
    void installedProgramIsStartedByTheLinkOnThePath()
    {
        QTemporaryDir root;
        const QString program = root.filePath("usr/lib/netquill/netquill");
        QVERIFY(writeFile(program, "program"));
        QDir().mkpath(root.filePath("usr/bin"));
        QVERIFY(QFile::link("../lib/netquill/netquill", root.filePath("usr/bin/netquill")));
        QCOMPARE(StartupCommand::For(program, "../../bin"), root.filePath("usr/bin/netquill"));
    }

    void buildProgramIsStartedItself()
    {
        QTemporaryDir root;
        const QString program = root.filePath("build/bin/netquill");
        QVERIFY(writeFile(program, "program"));
        QCOMPARE(StartupCommand::For(program, "../../bin"), program);
    }

    void anotherProgramOfTheSameNameIsNotUsed()
    {
        QTemporaryDir root;
        const QString program = root.filePath("opt/lib/netquill/netquill");
        QVERIFY(writeFile(program, "program"));
        QVERIFY(writeFile(root.filePath("opt/bin/netquill"), "a copy is not this program"));
        QCOMPARE(StartupCommand::For(program, "../../bin"), program);
    }

    void linkToAnotherFileIsNotUsed()
    {
        QTemporaryDir root;
        const QString program = root.filePath("usr/lib/netquill/netquill");
        QVERIFY(writeFile(program, "program"));
        QVERIFY(writeFile(root.filePath("usr/lib/other/netquill"), "other"));
        QDir().mkpath(root.filePath("usr/bin"));
        QVERIFY(QFile::link("../lib/other/netquill", root.filePath("usr/bin/netquill")));
        QCOMPARE(StartupCommand::For(program, "../../bin"), program);
    }

    void danglingLinkIsNotUsed()
    {
        QTemporaryDir root;
        const QString program = root.filePath("usr/lib/netquill/netquill");
        QVERIFY(writeFile(program, "program"));
        QDir().mkpath(root.filePath("usr/bin"));
        QVERIFY(QFile::link("../lib/netquill/gone", root.filePath("usr/bin/netquill")));
        QCOMPARE(StartupCommand::For(program, "../../bin"), program);
    }

    void programReachedThroughItsLinkStillFindsIt()
    {
        // The program's folder may itself be reached through a link, as /lib is on merged-/usr systems.
        QTemporaryDir root;
        const QString real = root.filePath("usr/lib/netquill/netquill");
        QVERIFY(writeFile(real, "program"));
        QDir().mkpath(root.filePath("usr/bin"));
        QVERIFY(QFile::link("../lib/netquill/netquill", root.filePath("usr/bin/netquill")));
        QVERIFY(QFile::link("usr/lib", root.filePath("lib")));
        QVERIFY(QFile::link("usr/bin", root.filePath("bin")));
        QCOMPARE(StartupCommand::For(root.filePath("lib/netquill/netquill"), "../../bin"),
                 root.filePath("bin/netquill"));
    }
};

NETQUILL_TEST(StartupCommandTest)
#include "StartupCommandTest.moc"
