#include "frmWebsite.h"
#include "FreePort.h"
#include "ScriptedHttpServer.h"
#include "SkinLabel.h"
#include "TestMain.h"
#include "Twips.h"
#include "WebsiteLayout.h"
#include "WebsiteModule.h"
#include "modIdentity.h"

#include <QAccessible>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QWebEngineView>

using Response = ScriptedHttpServer::Response;

/// The browser window, opened through its library as the program opens it, on pages served locally.
class frmWebsiteTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ScriptedHttpServer> m_server;
    QPointer<frmWebsite> m_window;
    QString m_website; // as the identity holds it: no scheme

    frmWebsite *open()
    {
        WebsiteHost host = WebsiteModule::Host();
        host.strWebsite = m_website;
        host.EndProgram = [] { QFAIL("the program ended while its main window was open"); };
        m_window =
            qobject_cast<frmWebsite *>(WebsiteModule::Create(QCoreApplication::applicationDirPath(), host));
        return m_window;
    }
    QString url(const char *path) const { return m_server->url(QString::fromLatin1(path)).toString(); }
    bool firstPageShown() const
    {
        return QTest::qWaitFor([this] { return m_window->windowTitle() == QLatin1String("First page"); },
                               30000);
    }

private slots:
    void initTestCase() { modIdentity::LoadProductIdentity(); } // skinning on, as in the program

    void init()
    {
        m_server = std::make_unique<ScriptedHttpServer>();
        m_server->setResponse("/first.html",
                              Response::ok("<html><head><title>First page</title></head>"
                                           "<body><a href=\"/second.html\">on</a></body></html>"));
        m_server->setResponse(
            "/second.html",
            Response::ok("<html><head><title>Second page</title></head><body>2</body></html>"));
        m_website = m_server->hostAndPort() + QStringLiteral("/first.html");
    }
    void cleanup()
    {
        delete m_window;
        m_server.reset();
    }

    void firstDownloadGivesAddressAndCaption()
    {
        frmWebsite *window = open();
        QVERIFY(window);
        QCOMPARE(window->windowTitle(), m_website);
        QCOMPARE(window->Panels.size(), 2);
        QVERIFY(window->isMaximized());
        QVERIFY(!window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        // The skin step copied the frame's one plain label and nothing in the status bar.
        const QList<SkinLabel *> copies = window->frmBrowser->findChildren<SkinLabel *>();
        QCOMPARE(copies.size(), 2); // the template and one copy
        QCOMPARE(copies.at(1)->text(), QStringLiteral("URL:"));
        QVERIFY(copies.at(1)->isVisibleTo(window));
        QVERIFY(window->StatusBar1->findChildren<SkinLabel *>().isEmpty());

        QVERIFY(firstPageShown());
        QCOMPARE(window->Text1->text(), url("/first.html"));
        QTRY_COMPARE(window->Panels.at(0)->text(), QStringLiteral("Done"));
        QCOMPARE(window->Panels.at(1)->text(), QString());

        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(window);
        QVERIFY(accessible);
        QVERIFY2(accessible->role() == QAccessible::Window, qPrintable(QString::number(accessible->role())));
        QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("First page"));
    }

    void stopOfferedOnlyWhileLoading()
    {
        m_server->setResponse("/slow.html", Response::hang());
        frmWebsite *window = open();
        QVERIFY(firstPageShown());
        QTRY_VERIFY(!window->Command6->isEnabled()); // loaded: nothing to stop
        window->Text1->setText(url("/slow.html"));
        QTest::mouseClick(window->Command3, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(window->Command6->isEnabled(), 15000);
        QTest::mouseClick(window->Command6, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!window->Command6->isEnabled(), 15000);
    }

    void backOnFirstPageDoesNothing()
    {
        frmWebsite *window = open();
        QVERIFY(firstPageShown());
        QVERIFY(!window->Command4->isEnabled());
        QVERIFY(!window->Command5->isEnabled());
        QTest::mouseClick(window->Command4, Qt::LeftButton);
        QTest::qWait(1000);
        QCOMPARE(window->windowTitle(), QStringLiteral("First page"));
        QCOMPARE(window->Text1->text(), url("/first.html"));
        QCOMPARE(window->WebBrowser1->url().toString(), url("/first.html"));
        QCOMPARE(m_server->requestsFor("/first.html").size(), 1);
        QVERIFY(window->isVisible());
    }

    void enterGoesAndBackReturns()
    {
        frmWebsite *window = open();
        QVERIFY(firstPageShown());
        // Typed as a user would, without the scheme.
        window->Text1->setText(m_server->hostAndPort() + QStringLiteral("/second.html"));
        QTest::keyClick(window->Text1, Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(window->windowTitle(), QStringLiteral("Second page"), 15000);
        QCOMPARE(window->Text1->text(), url("/second.html"));

        QVERIFY(window->Command4->isEnabled());
        QTest::mouseClick(window->Command4, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(window->windowTitle(), QStringLiteral("First page"), 15000);
        QCOMPARE(window->Text1->text(), url("/first.html"));
        QTRY_VERIFY(window->Command5->isEnabled());
        QVERIFY(!window->Command4->isEnabled());
    }

    void failedLoadIsShownInTheStatus()
    {
        frmWebsite *window = open();
        QVERIFY(firstPageShown());
        window->Text1->setText(QStringLiteral("http://127.0.0.1:%1/").arg(FreePort::pick()));
        QTest::mouseClick(window->Command3, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(window->Panels.at(0)->text().startsWith(QLatin1String("Could not load: ")),
                                 15000);
        QVERIFY(window->Panels.at(0)->text().size() > QStringLiteral("Could not load: ").size());
    }

    void resizeLaysOutControls()
    {
        frmWebsite *window = open();
        QVERIFY(window);
        window->showNormal();
        // So low that the browser's height rule folds over.
        window->resize(100, 80);
        QTRY_COMPARE(window->height(), 80);
        const QRect outer = window->frameGeometry();
        const WebsiteLayout layout = WebsiteLayout::compute(float(outer.width() * Twips::PerPixel),
                                                            float(outer.height() * Twips::PerPixel), 315.f);
        const auto pixels = [](float twips) { return Twips::toPixels(qRound(twips)); };
        QCOMPARE(window->WebBrowser1->height(), pixels(layout.WebBrowser1Height));
        QVERIFY(window->WebBrowser1->height() > 0);
        QCOMPARE(window->Text1->width(), pixels(layout.Text1Width));
        QCOMPARE(window->Command3->x(), pixels(layout.Command3Left));
        QCOMPARE(window->Panels.at(0)->width(), pixels(layout.panel1Width));
        QCOMPARE(window->StatusBar1->geometry().bottom(), window->height() - 1);
    }
};

NETQUILL_TEST(frmWebsiteTest)
#include "frmWebsiteTest.moc"
