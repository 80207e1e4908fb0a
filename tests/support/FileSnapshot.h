#pragma once

#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QString>

namespace FileSnapshot {
/// The file's text, or "" when it cannot be read.
inline QString readFile(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

/// Every file under the folder, with its content, to prove that nothing was touched.
inline QMap<QString, QString> snapshot(const QString &folder)
{
    QMap<QString, QString> files;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(path, readFile(path));
    }
    return files;
}
} // namespace FileSnapshot
