#pragma once

#include <QProcess>
#include <QString>

/// A virtual X display for tests that start the real program.
class XvfbDisplay {
public:
    XvfbDisplay() = default;
    ~XvfbDisplay() { stop(); }
    XvfbDisplay(const XvfbDisplay &) = delete;
    XvfbDisplay &operator=(const XvfbDisplay &) = delete;

    /// Starts Xvfb on the first free display number from 90 on; false (with error()) when it cannot.
    bool start();
    void stop();
    /// ":<number>", for DISPLAY.
    QString display() const { return QStringLiteral(":%1").arg(m_number); }
    QString error() const { return m_error; }
    /// Why Xvfb cannot run here; empty when it can.
    static QString missing();

private:
    QProcess m_process;
    int m_number = -1;
    QString m_error;
};
