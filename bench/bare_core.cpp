// The reference for the service's idle memory: a bare QCoreApplication that fetches the page at start
// and then once a minute. Usage: bench_barecore url
#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QUrl page(app.arguments().value(1));
    QNetworkAccessManager network;
    QTimer minute;
    const auto fetch = [&] {
        QNetworkReply *reply = network.get(QNetworkRequest(page));
        QObject::connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
    };
    QObject::connect(&minute, &QTimer::timeout, fetch);
    minute.start(60 * 1000);
    fetch();
    return app.exec();
}
