// Writes one setting (or, after --both, the two previous addresses in one save) and is killed at
// once, to show that a write is on disk when the save returns.
#include "SettingsStore.h"

#include <QCoreApplication>
#include <csignal>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    SettingsStore store(QStringLiteral("Netquill"));
    if (argc == 4 && QByteArray(argv[1]) == "--both")
        store.SaveSettings({{SettingKeys::OldExternal, QString::fromUtf8(argv[2])},
                            {SettingKeys::OldInternal, QString::fromUtf8(argv[3])}});
    else if (argc == 3)
        store.SaveSetting(QString::fromUtf8(argv[1]), QString::fromUtf8(argv[2]));
    else
        return 2;
    std::raise(SIGKILL);
    return 1;
}
