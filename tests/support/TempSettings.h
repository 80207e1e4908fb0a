#pragma once

#include <QSettings>
#include <QTemporaryDir>
#include <QtGlobal>

/// Gives a test its own empty config folder for the life of the object: a fresh settings store and
/// an empty autostart folder. QSettings caches the user path, so it is redirected explicitly too.
class TempSettings {
public:
    TempSettings() : m_old(qgetenv("XDG_CONFIG_HOME")) { point(m_dir.path().toLocal8Bit()); }
    ~TempSettings() { point(m_old); }
    TempSettings(const TempSettings &) = delete;
    TempSettings &operator=(const TempSettings &) = delete;

    QString path() const { return m_dir.path(); }

private:
    static void point(const QByteArray &dir)
    {
        qputenv("XDG_CONFIG_HOME", dir);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromLocal8Bit(dir));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromLocal8Bit(dir));
    }

    QByteArray m_old;
    QTemporaryDir m_dir;
};
