// The reference for start-up and idle memory: a window with one line of text, and one GET of the
// page once it is shown. Usage: bench_bareqt [--no-text] [url]
// Without text no font is ever loaded, which no real program escapes; --no-text shows that floor.
#include <QApplication>
#include <QLabel>
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
    QStringList args = app.arguments().mid(1);
    const bool text = !args.removeAll(QStringLiteral("--no-text"));
    Window window(args.isEmpty() ? QUrl() : QUrl(args.first()));
    window.resize(480, 320);
    window.setWindowTitle(QStringLiteral("bare"));
    if (text)
        (new QLabel(QStringLiteral("A bare Qt window"), &window))->move(20, 20);
    window.show();
    return app.exec();
}
