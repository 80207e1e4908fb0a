// The program's main(), plus two time stamps: when the splash's timer starts and the moment its last
// tick arrives (seen by an event filter, before the tick loads the main window).
#include "AddressMonitor.h"
#include "BenchCommon.h"
#include "SettingsStore.h"
#include "frmSplash.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>

class LastTick : public QObject {
public:
    explicit LastTick(frmSplash &splash) : m_splash(splash) {}
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Timer && m_splash.ticks() == 148) {
            std::printf("splash_end_us %lld\n", Bench::nowUs());
            std::fflush(stdout);
        }
        return false;
    }

private:
    frmSplash &m_splash;
};

int main(int argc, char **argv)
{
    Bench::heapAsMain();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    SettingsStore store(QStringLiteral("Netquill"));
    AddressMonitor monitor(store);
    frmSplash splash(monitor, store);
    LastTick last(splash);
    splash.Timer2->installEventFilter(&last);
    splash.Form_Load(); // starts the timer last
    std::printf("splash_start_us %lld\n", Bench::nowUs());
    splash.show();
    return app.exec();
}
