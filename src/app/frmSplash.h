#pragma once

#include <QPointer>
#include <QWidget>
#include <future>

class AddressMonitor;
class Form1;
class QLabel;
class QTimer;
class SettingsStore;
class Skin;

/// The start-up window: shows the picture, hosts the program's one skin, and after 75 ticks of
/// its 2 ms timer loads and shows the main window, then hides itself (it stays loaded, without its
/// picture and native window). The main window shows the model and the store main() built.
class frmSplash : public QWidget {
    Q_OBJECT
public:
    frmSplash(AddressMonitor &monitor, SettingsStore &store, QWidget *parent = nullptr);
    /// Deletes the main window first: it uses the skin this window hosts.
    ~frmSplash() override;

    void Form_Load();
    void Timer2_Timer();

    Form1 *mainWindow() const;
    int ticks() const { return intTemp; }

    QLabel *Image1;
    QTimer *Timer2;
    Skin *skn;

signals:
    void mainWindowShown(Form1 *window);

private:
    qint16 intTemp = 0;
    AddressMonitor &m_monitor;
    SettingsStore &m_store;
    QPointer<Form1> m_main;
    std::future<void> m_fonts; // waited for when the splash goes, before the application does
};
