#include <netquill/BuildIdentity.h>

#include <QCommandLineParser>
#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("netquill-monitor"));
    QCoreApplication::setApplicationVersion(QStringLiteral("%1.%2.%3.%4")
                                                .arg(BuildIdentity::VersionMajor)
                                                .arg(BuildIdentity::VersionMinor)
                                                .arg(BuildIdentity::VersionPatch)
                                                .arg(BuildIdentity::VersionTweak));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Watches the internal and external IP address."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(app);
    return 0;
}
