#pragma once

#include "AddressMonitor.h"
#include "Form1.h"
#include "LookupCycle.h"
#include "ScriptedHttpServer.h"
#include "SettingsStore.h"
#include "TempSettings.h"

#include <QLineEdit>
#include <QTest>
#include <memory>

inline const QByteArray PagePath = "/extras/GetExternalIP.asp";
using Response = ScriptedHttpServer::Response;

/// A main window on its own empty store, looking up against a scripted local server.
struct Rig {
    TempSettings temp;
    ScriptedHttpServer server;
    // As main() builds them; the page's host is read when the model is made.
    std::unique_ptr<SettingsStore> store;
    std::unique_ptr<AddressMonitor> monitor;
    std::unique_ptr<Form1> window;
    int endCalls = 0;
    int lookups = 0;
    int ended = 0; // lookups that ended, well or not

    Rig() { server.setResponse(PagePath, Response::ok("203.0.113.7")); }
    void seed(const char *key, const QString &value)
    {
        SettingsStore(QStringLiteral("Netquill")).SaveSetting(QString::fromLatin1(key), value);
    }
    Form1 &create() { return create(server.hostAndPort()); }
    Form1 &create(const QString &pageHost)
    {
        qputenv("NETQUILL_IP_HOST", pageHost.toLatin1());
        store = std::make_unique<SettingsStore>(QStringLiteral("Netquill"));
        monitor = std::make_unique<AddressMonitor>(*store);
        window = std::make_unique<Form1>(*monitor, *store);
        window->setEndProgram([this] { ++endCalls; });
        QObject::connect(monitor.get(), &AddressMonitor::statusChanged, [this](const QString &text) {
            if (text == LookupCycle::StatusLooking)
                ++lookups;
        });
        QObject::connect(monitor.get(), &AddressMonitor::lookupFinished, [this] { ++ended; });
        return *window;
    }
    Form1 &load()
    {
        create().Form_Load();
        return *window;
    }
    bool lookupFinished()
    {
        return QTest::qWaitFor([this] { return window->txtStatus->text() != LookupCycle::StatusLooking; },
                               5000);
    }
    QStringList storedKeys()
    {
        QStringList keys = SettingsStore(QStringLiteral("Netquill")).keys();
        keys.sort();
        return keys;
    }
};
