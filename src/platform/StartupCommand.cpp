#include "StartupCommand.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QString StartupCommand::For(const QString &programFile, const QString &binFolder)
{
    const QFileInfo program(programFile);
    const QString command = QDir::cleanPath(program.absolutePath() + QLatin1Char('/') + binFolder +
                                            QLatin1Char('/') + program.fileName());
    // Only a link that leads back to this very program counts: another program of the same name in a
    // neighbouring bin folder is not ours to start.
    const QString target = QFileInfo(command).canonicalFilePath();
    if (command != program.absoluteFilePath() && !target.isEmpty() && target == program.canonicalFilePath())
        return command;
    return programFile;
}

QString StartupCommand::ForThisProgram()
{
    return For(QCoreApplication::applicationFilePath(), QStringLiteral(NETQUILL_BIN_FROM_PRIVATE));
}
