#pragma once

#include "TestMain.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTest>

/// Set in the environment of a test run again inside a private namespace.
inline constexpr char InNetworkNamespace[] = "NETQUILL_TEST_IN_NAMESPACE";

/// Runs the current test function (and row) of `testClass` again in private namespaces (`unshare -r`
/// and `flags`), after the shell commands `setup` with $0, $1... set to `setupArguments`; the child's
/// verdict is the test's. Skips, naming the cause, where such namespaces cannot be made.
inline void runInNetworkNamespace(const QString &testClass, const QStringList &flags, const QString &setup,
                                  const QStringList &setupArguments = {})
{
    QString function = QString::fromLatin1(QTest::currentTestFunction());
    if (QTest::currentDataTag())
        function += QLatin1Char(':') + QString::fromLatin1(QTest::currentDataTag());
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(InNetworkNamespace), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    const QString program = QCoreApplication::applicationFilePath();
    const int programArgument = int(setupArguments.size());
    child.start(QStringLiteral("unshare"),
                QStringList{QStringLiteral("-r")} + flags +
                    QStringList{QStringLiteral("sh"), QStringLiteral("-c"),
                                QStringLiteral("ip link set lo up && %1 && exec \"$%2\" %3 \"$%4\"")
                                    .arg(setup)
                                    .arg(programArgument)
                                    .arg(testClass)
                                    .arg(programArgument + 1)} +
                    setupArguments + QStringList{program, function});
    if (!child.waitForStarted(10000))
        NETQUILL_REQUIRE(QStringLiteral("unshare cannot run: ") + child.errorString());
    QVERIFY(child.waitForFinished(60000));
    const QString output = QString::fromLocal8Bit(child.readAll());
    if (!output.contains(QStringLiteral("Start testing of ") + testClass))
        NETQUILL_REQUIRE(QStringLiteral("no private namespace (unshare -r %1): ").arg(flags.join(u' ')) +
                         output.trimmed());
    if (child.exitCode() == 77)
        NETQUILL_REQUIRE(
            QStringLiteral("inside the namespace: ") +
            output.section(QStringLiteral("SKIP   :"), 1).section(QLatin1Char('\n'), 0, 0).trimmed());
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, qPrintable(output));
    QVERIFY2(output.contains(QStringLiteral("PASS   : ") + testClass + QStringLiteral("::") +
                             function.section(QLatin1Char(':'), 0, 0)),
             qPrintable(output));
}
