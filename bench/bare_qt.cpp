// The reference for start-up and idle memory: a window, and one GET of the page once it is shown.
#include <QApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <QWidget>

class Window : public QWidget {
public:
    explicit Window(QUrl page) : m_page(std::move(page)) {}

protected:
    void showEvent(QShowEvent *) override
    {
        if (m_fetched || m_page.isEmpty())
            return;
        m_fetched = true;
        QTimer::singleShot(0, this, [this] {
            QNetworkReply *reply = m_network.get(QNetworkRequest(m_page));
            connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
        });
    }

private:
    QUrl m_page;
    QNetworkAccessManager m_network;
    bool m_fetched = false;
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    Window window(argc > 1 ? QUrl(QString::fromLocal8Bit(argv[1])) : QUrl());
    window.resize(480, 320);
    window.setWindowTitle(QStringLiteral("bare"));
    window.show();
    return app.exec();
}
