#pragma once

#include <QObject>
#include <QPointer>

/// The skin engine: given the skin once at start-up, started, and stopped just before the program ends.
class SkinEngine : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    void SetSkin(QObject *skin) { m_skin = skin; }
    void Start() { m_running = m_skin != nullptr; }
    void Stop() { m_running = false; }

    bool isRunning() const { return m_running; }
    QObject *skin() const { return m_skin; }

private:
    QPointer<QObject> m_skin;
    bool m_running = false;
};
