#pragma once

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtGlobal>

/// Points XDG_CONFIG_HOME at a fresh folder for the life of the object, so every test starts
/// from an empty settings store and an empty autostart folder.
class TempSettings {
public:
    TempSettings() : m_old(qgetenv("XDG_CONFIG_HOME")) { qputenv("XDG_CONFIG_HOME", m_dir.path().toLocal8Bit()); }
    ~TempSettings() { qputenv("XDG_CONFIG_HOME", m_old); }
    TempSettings(const TempSettings &) = delete;
    TempSettings &operator=(const TempSettings &) = delete;

    QString path() const { return m_dir.path(); }

private:
    QByteArray m_old;
    QTemporaryDir m_dir;
};
