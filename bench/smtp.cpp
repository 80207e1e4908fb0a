// One notification after another through the program's SMTP session, on its mail thread.
// Usage: bench_smtp <host> <port> <count> [rss-checkpoint...]   or   bench_smtp --message <file>
// The second form writes what the session sends after DATA, for the reference client to send.
#include "BenchCommon.h"
#include "MailSender.h"
#include "MailSettings.h"
#include "SmtpMessage.h"
#include "Winsock.h"

#include <QCoreApplication>
#include <QFile>
#include <QSet>
#include <QTimer>
#include <cstdio>

namespace {
SmtpMessageInputs inputs()
{
    return {QStringLiteral("Netquill"), QStringLiteral("Velmora"), QStringLiteral("netquill.example.com"),
            QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.1")};
}
const QString From = QStringLiteral("netquill@example.com");
const QString To = QStringLiteral("owner@example.com");
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--message") {
        QFile file(QString::fromLocal8Bit(argv[2]));
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        const QString header = SmtpMessage::Header(From, To, inputs().programName);
        file.write(SmtpMessage::ToTransparentText(header + SmtpMessage::Body(inputs())).toLatin1());
        std::printf("%s\n", qPrintable(Winsock::LocalHostName()));
        return 0;
    }
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_smtp <host> <port> <count> [rss-checkpoint...]\n");
        return 2;
    }
    const MailSettings settings{To, From, QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2])};
    const int count = QByteArray(argv[3]).toInt();
    QSet<int> checkpoints;
    for (int i = 4; i < argc; ++i)
        checkpoints.insert(QByteArray(argv[i]).toInt());

    MailSender session;
    session.setSettings(settings);
    session.setInputs(inputs());
    int sent = 0;
    long long started = 0;
    auto next = [&] {
        if (checkpoints.contains(sent)) {
            std::printf("rss_kb %d %lld\n", sent, Bench::rssKb());
            std::fflush(stdout);
        }
        if (sent == count) {
            app.quit();
            return;
        }
        started = Bench::nowUs();
        session.Send();
    };
    QObject::connect(&session, &MailSender::statusChanged, &app, [&](const QString &text) {
        if (text.startsWith(QLatin1String("Error"))) {
            std::fprintf(stderr, "send %d: %s\n", sent, qPrintable(text));
            app.exit(1);
        } else if (text == QLatin1String("Message Sent")) {
            std::printf("send_us %lld\n", Bench::nowUs() - started);
            ++sent;
            QTimer::singleShot(0, &app, next);
        }
    });
    QTimer::singleShot(0, &app, next);
    return app.exec();
}
