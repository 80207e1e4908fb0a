// The browser window opened from its library in-process, then closed.
// Prints whether the web engine is mapped and the RSS before opening, once open, and after closing.
#include "BenchCommon.h"
#include "WebsiteModule.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdio>

namespace {
void report(const char *when)
{
    std::printf("%s rss_kb %lld webengine_mapped %d\n", when, Bench::rssKb(),
                int(Bench::mapped("libQt6WebEngineCore")));
    std::fflush(stdout);
}
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const int settleMs = argc > 1 ? QByteArray(argv[1]).toInt() : 3000;
    QWidget main;
    main.resize(400, 300);
    main.show();
    QWidget *window = nullptr;
    QTimer::singleShot(settleMs, &app, [&] {
        report("before");
        WebsiteHost host = WebsiteModule::Host();
        host.EndProgram = [] {};
        window = WebsiteModule::Create(QCoreApplication::applicationDirPath(), host);
        if (!window) {
            std::fprintf(stderr, "the browser window's library did not load\n");
            app.exit(1);
            return;
        }
        QTimer::singleShot(settleMs, &app, [&] {
            report("open");
            window->close();
            delete window;
            window = nullptr;
            QTimer::singleShot(settleMs, &app, [&] {
                report("closed");
                app.quit();
            });
        });
    });
    return app.exec();
}
