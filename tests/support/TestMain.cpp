#include "TestMain.h"

#ifdef NETQUILL_TEST_GUI
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif
#include <QTemporaryDir>
#include <QTest>

std::vector<TestRegistry::Entry> &TestRegistry::entries()
{
    static std::vector<Entry> list;
    return list;
}

QStringList &TestRegistry::missingPieces()
{
    static QStringList list;
    return list;
}

// CTest reports a test that ends with this code as skipped.
constexpr int SkipCode = 77;

int main(int argc, char **argv)
{
    // Nothing a test does may reach the user's real settings, autostart folder or address history.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", state.path().toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TestApplication app(argc, argv);

    QString only;
    QStringList args = app.arguments();
    if (args.size() > 1 && !args.at(1).startsWith('-')) {
        only = args.takeAt(1);
    }
    int failed = 0;
    bool ran = false;
    for (const auto &entry : TestRegistry::entries()) {
        if (!only.isEmpty() && only != QLatin1String(entry.name))
            continue;
        ran = true;
        QObject *test = entry.create();
        failed += QTest::qExec(test, args);
        delete test;
    }
    if (!ran) {
        qWarning("no test class named %s", qPrintable(only));
        return 2;
    }
    if (failed == 0 && !TestRegistry::missingPieces().isEmpty()) {
        for (const QString &piece : TestRegistry::missingPieces())
            qWarning("skipped, missing: %s", qPrintable(piece));
        return SkipCode;
    }
    return failed;
}
