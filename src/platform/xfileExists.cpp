#include "xfileExists.h"

#include <QDir>
#include <QFileInfo>

QString xfileExists::FileNamePart(const QString &path)
{
    const qsizetype last = path.lastIndexOf(QLatin1Char('\\'));
    return last < 0 ? path : path.mid(last + 1);
}

bool xfileExists::FileExists(const QString &path)
{
    if (path.isEmpty() || path.contains(QLatin1Char('*')) || path.contains(QLatin1Char('?')))
        return false;
    // The program's own paths use the native separator; seen with backslashes they split as on Windows.
    QString comparable = path;
    if (QDir::separator() != QLatin1Char('\\'))
        comparable.replace(QDir::separator(), QLatin1Char('\\'));
    const QString wanted = FileNamePart(comparable);
    if (wanted.isEmpty())
        return false;

    const QFileInfo info(path);
    const QDir folder = info.absoluteDir();
    if (!folder.exists())
        return false;
    // Plain files only: no folders, no hidden files, no sockets, devices or broken links.
    const QStringList names = folder.entryList(QDir::Files);
    for (const QString &name : names) {
        if (name.compare(info.fileName(), Qt::CaseInsensitive) == 0)
            return name.toUpper() == wanted.toUpper();
    }
    return false;
}
