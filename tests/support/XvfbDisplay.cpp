#include "XvfbDisplay.h"

#include "ProcessStop.h"

#include <QFile>
#include <QStandardPaths>
#include <QTest>

QString XvfbDisplay::missing()
{
    return QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()
               ? QStringLiteral("Xvfb is not installed")
               : QString();
}

bool XvfbDisplay::start()
{
    const QString binary = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (binary.isEmpty()) {
        m_error = QStringLiteral("Xvfb is not installed");
        return false;
    }
    for (int number = 90; number < 190; ++number) {
        const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
        if (QFile::exists(socket) || QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
            continue;
        m_number = number;
        m_process.start(binary,
                        {display(), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                         QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1280x800x24")});
        if (!m_process.waitForStarted(5000))
            break;
        if (QTest::qWaitFor(
                [&] { return QFile::exists(socket) || m_process.state() == QProcess::NotRunning; }, 10000) &&
            m_process.state() == QProcess::Running)
            return true;
        stop(); // lost a race for this number; try the next
    }
    m_error =
        QStringLiteral("Xvfb did not start: ") + QString::fromLocal8Bit(m_process.readAllStandardError());
    return false;
}

void XvfbDisplay::stop()
{
    stopProcess(m_process);
}
