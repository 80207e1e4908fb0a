// Writes one setting and is killed at once, to show that a write is on disk when SaveSetting returns.
#include "SettingsStore.h"

#include <QCoreApplication>
#include <csignal>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return 2;
    SettingsStore store(QStringLiteral("Netquill"));
    store.SaveSetting(QString::fromUtf8(argv[1]), QString::fromUtf8(argv[2]));
    std::raise(SIGKILL);
    return 1;
}
