#include "frmSources.h"
#include "AddressMonitor.h"
#include "FreePort.h"
#include "IpSourceList.h"
#include "ScriptedHttpServer.h"
#include "SettingsStore.h"
#include "TempSettings.h"
#include "TestMain.h"

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocumentFragment>
#include <QTreeWidget>

namespace {
using Response = ScriptedHttpServer::Response;
const QByteArray PagePath = "/extras/GetExternalIP.asp";
const QString A = QStringLiteral("http://127.0.0.1:9/a"); // listed, never asked
const QString B = QStringLiteral("http://127.0.0.1:9/b");

QList<IpSource> offerOf(const QStringList &urls)
{
    QList<IpSource> offer;
    for (const QString &url : urls)
        offer.append(IpSource{false, QUrl(url), false});
    return offer;
}

// What a cell's tool tip shows, as text.
QString shownTip(const QTreeWidgetItem *item)
{
    return QTextDocumentFragment::fromHtml(item->toolTip(frmSources::ColumnAnswer)).toPlainText();
}

void runStep(frmSources &dialog, const QString &step)
{
    const QString verb = step.section(QLatin1Char(' '), 0, 0);
    const QString argument = step.section(QLatin1Char(' '), 1);
    QTreeWidgetItem *item = dialog.lstSources->topLevelItem(argument.toInt());
    if (verb == QLatin1String("check") || verb == QLatin1String("uncheck"))
        item->setCheckState(frmSources::ColumnSource,
                            verb == QLatin1String("check") ? Qt::Checked : Qt::Unchecked);
    else if (verb == QLatin1String("select"))
        dialog.lstSources->setCurrentItem(item);
    else if (verb == QLatin1String("type"))
        dialog.txtCustom->setText(argument);
    else if (verb == QLatin1String("up"))
        dialog.cmdUp->click();
    else if (verb == QLatin1String("down"))
        dialog.cmdDown->click();
    else if (verb == QLatin1String("remove"))
        dialog.cmdRemove->click();
    else if (verb == QLatin1String("add"))
        dialog.cmdAdd->click();
    else
        QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
}
/// The model the dialog edits, over a settings file of its own, with Netquill's page at host.
struct Model {
    TempSettings temp;
    SettingsStore store{QStringLiteral("Netquill")};
    std::unique_ptr<AddressMonitor> monitor;

    explicit Model(const QString &host = QStringLiteral("127.0.0.1:9"))
    {
        qputenv("NETQUILL_IP_HOST", host.toUtf8());
        monitor = std::make_unique<AddressMonitor>(store);
        qunsetenv("NETQUILL_IP_HOST");
    }
    /// The sources as stored now.
    AddressMonitor &load()
    {
        monitor->LoadSources();
        return *monitor;
    }
};
} // namespace

class frmSourcesTest : public QObject {
    Q_OBJECT
private slots:
    void testAsksEverySourceOnce()
    {
        ScriptedHttpServer product, address, error, page, silent, moved;
        Model model(product.hostAndPort());
        SettingsStore &store = model.store;
        product.setResponse(PagePath, Response::ok("<B>198.51.100.7</B>"));
        address.setResponse("/ip", Response::ok("203.0.113.5\n", "text/plain"));
        error.setResponse("/ip", Response::status(500, "203.0.113.6"));
        page.setResponse("/ip", Response::ok("<html><body>Sign in to use this network</body></html>"));
        silent.setResponse("/ip", Response::hang());
        moved.setResponse("/ip", Response::redirect("/elsewhere"));
        moved.setResponse("/elsewhere", Response::ok("203.0.113.77", "text/plain"));
        const QList<ScriptedHttpServer *> services = {&address, &error, &page, &silent, &moved};
        QStringList urls;
        for (ScriptedHttpServer *service : services)
            urls.append(service->url(QStringLiteral("/ip")).toString());
        urls.append(QStringLiteral("http://127.0.0.1:%1/ip").arg(FreePort::pick())); // nobody listens

        frmSources dialog(model.load(), offerOf(urls));
        model.monitor->setSourceTestTimeout(500);
        QSignalSpy done(model.monitor.get(), &AddressMonitor::sourcesTested);
        dialog.cmdTest->click();
        QVERIFY(!dialog.cmdTest->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, 5000);
        QVERIFY(dialog.cmdTest->isEnabled());

        // The product's page keeps its markup; services must answer with an address alone, and a
        // failure says why.
        const QStringList answers = {
            "<b>198.51.100.7</b>",    "203.0.113.5",
            "HTTP status 500",        "Not an address: <html><body>Sign in to use this network<\u2026",
            "No answer within 0.5 s", "Redirected to another address: " + moved.url("/elsewhere").toString(),
            "Connection refused"};
        QCOMPARE(dialog.lstSources->topLevelItemCount(), answers.size());
        const QRegularExpression time(QStringLiteral("^(\\d+) ms$"));
        for (int i = 0; i < answers.size(); ++i) {
            const QTreeWidgetItem *item = dialog.lstSources->topLevelItem(i);
            QCOMPARE(item->text(frmSources::ColumnAnswer), answers.at(i));
            QCOMPARE(shownTip(item), answers.at(i)); // markup too is shown as it came
            QVERIFY2(time.match(item->text(frmSources::ColumnTime)).hasMatch(),
                     qPrintable(item->text(frmSources::ColumnTime)));
        }
        const auto silentTime = time.match(dialog.lstSources->topLevelItem(4)->text(frmSources::ColumnTime));
        // The silent one took its whole time limit; a coarse timer may fire up to 5% early.
        QVERIFY2(silentTime.captured(1).toInt() >= 475, qPrintable(silentTime.captured(0)));
        QCOMPARE(product.requestsFor(PagePath).size(), 1);
        for (ScriptedHttpServer *service : services)
            QCOMPARE(service->requests().size(), 1);
        QVERIFY(store.keys().isEmpty()); // a Test changes no setting

        for (QWidget *control :
             {static_cast<QWidget *>(dialog.lstSources), static_cast<QWidget *>(dialog.txtCustom)}) {
            QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(control);
            QVERIFY(accessible);
            QVERIFY(!accessible->text(QAccessible::Name).isEmpty());
        }
        QCOMPARE(dialog.txtCustom->accessibleName(), QStringLiteral("Custom URL:"));
    }

    // A cell cuts a long answer short; its tool tip holds all of it.
    void longAnswerWholeInTheToolTip_data()
    {
        QTest::addColumn<bool>("page"); // the product's page answers at length; else a service moves far
        QTest::newRow("a page longer than the cell") << true;
        QTest::newRow("a redirect to a long address") << false;
    }
    void longAnswerWholeInTheToolTip()
    {
        QFETCH(bool, page);
        ScriptedHttpServer product, service;
        Model model(product.hostAndPort());
        const QString tail(120, u'x');
        QString whole;
        QList<IpSource> offer;
        if (page) {
            whole = QStringLiteral("Your address: 198.51.100.7 ") + tail;
            product.setResponse(PagePath, Response::ok(whole.toLatin1()));
        } else {
            product.setResponse(PagePath, Response::ok("198.51.100.7"));
            service.setResponse("/ip", Response::redirect("/elsewhere/" + tail.toLatin1()));
            whole = "Redirected to another address: " + service.url("/elsewhere/" + tail).toString();
            offer = offerOf({service.url(QStringLiteral("/ip")).toString()});
        }
        frmSources dialog(model.load(), offer);
        QSignalSpy done(model.monitor.get(), &AddressMonitor::sourcesTested);
        dialog.cmdTest->click();
        QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, 5000);
        const QTreeWidgetItem *item = dialog.lstSources->topLevelItem(page ? 0 : 1);
        QCOMPARE(item->text(frmSources::ColumnAnswer), whole.left(80) + QChar(0x2026));
        QCOMPARE(shownTip(item), whole);
    }

    // What the dialog refuses, it says why, where the user tried.
    void refusalsAreExplained_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("listNote");
        QTest::addColumn<QString>("addNote");
        const QString lastOn = "The last source switched on stays on: switch another one on first.";
        QTest::newRow("a usable URL") << QStringList{"type http://127.0.0.1:9/c"} << ""
                                      << "";
        QTest::newRow("not an http URL")
            << QStringList{"type ftp://127.0.0.1/c"} << ""
            << "Cannot add: not an http://, https:// or dns://SERVER/NAME?type=A|AAAA|TXT address";
        QTest::newRow("listed") << QStringList{"type " + A} << ""
                                << "Cannot add: already in the list";
        QTest::newRow("too long") << QStringList{"type http://127.0.0.1/" + QString(1100, 'a')} << ""
                                  << "Cannot add: too long (more than 1024 characters)";
        QTest::newRow("the last one on") << QStringList{"uncheck 0"} << lastOn << "";
        QTest::newRow("said until the next change") << QStringList{"uncheck 0", "check 1"} << ""
                                                    << "";
    }
    void refusalsAreExplained()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, listNote);
        QFETCH(QString, addNote);
        Model model;
        frmSources dialog(model.load(), offerOf({A, B}));
        for (const QString &step : steps)
            runStep(dialog, step);
        QCOMPARE(dialog.lblListNote->text(), listNote);
        QCOMPARE(dialog.lblAddNote->text(), addNote);
        QCOMPARE(dialog.cmdAdd->isEnabled(), !dialog.txtCustom->text().isEmpty() && addNote.isEmpty());
    }

    void changesAreStoredAtOnce_data()
    {
        QTest::addColumn<QString>("stored"); // null: the key is missing
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("shown");    // the rows afterwards, in the stored encoding
        QTest::addColumn<QString>("expected"); // the stored text afterwards; null: missing

        const QString none;
        const QString offered = "default -" + A + " -" + B;
        QTest::newRow("nothing changed, nothing stored") << none << QStringList{} << offered << none;
        QTest::newRow("switch a service on")
            << none << QStringList{"check 1"} << "default " + A + " -" + B << "default " + A + " -" + B;
        QTest::newRow("move a service to the top")
            << none << QStringList{"select 2", "up", "up"} << "-" + B + " default -" + A
            << "-" + B + " default -" + A;
        QTest::newRow("move down") << none << QStringList{"select 0", "down"} << "-" + A + " default -" + B
                                   << "-" + A + " default -" + B;
        QTest::newRow("the last one on stays on") << none << QStringList{"uncheck 0"} << offered << none;
        QTest::newRow("add a custom URL")
            << none << QStringList{"type  http://127.0.0.1:9/c ", "add"} << offered + " http://127.0.0.1:9/c"
            << offered + " http://127.0.0.1:9/c";
        QTest::newRow("a listed URL is not added again")
            << none << QStringList{"type " + A, "add"} << offered << none;
        QTest::newRow("not an http URL")
            << none << QStringList{"type ftp://127.0.0.1/c", "add"} << offered << none;
        QTest::newRow("add a DNS source")
            << none << QStringList{"type dns://127.0.0.1/myip.test?type=AAAA", "add"}
            << offered + " dns://127.0.0.1/myip.test?type=AAAA"
            << offered + " dns://127.0.0.1/myip.test?type=AAAA";
        QTest::newRow("remove a custom URL")
            << "http://127.0.0.1:9/c default" << QStringList{"select 0", "remove"} << offered << offered;
        QTest::newRow("an offered service stays")
            << none << QStringList{"select 1", "remove"} << offered << none;
        QTest::newRow("the last one on cannot be removed")
            << "http://127.0.0.1:9/c -default" << QStringList{"select 0", "remove"}
            << "http://127.0.0.1:9/c -default -" + A + " -" + B << "http://127.0.0.1:9/c -default";
        QTest::newRow("stored order, the rest of the offer after it")
            << B + " default" << QStringList{} << B + " default -" + A << B + " default";
        QTest::newRow("malformed list shown as the default, left as stored")
            << "default ftp://x" << QStringList{} << offered << "default ftp://x";
    }
    void changesAreStoredAtOnce()
    {
        QFETCH(QString, stored);
        QFETCH(QStringList, steps);
        QFETCH(QString, shown);
        QFETCH(QString, expected);
        Model model;
        SettingsStore &store = model.store;
        if (!stored.isNull())
            store.SaveSetting(SettingKeys::IpSources, stored);
        frmSources dialog(model.load(), offerOf({A, B}));
        for (const QString &step : steps)
            runStep(dialog, step);

        QCOMPARE(IpSourceList::format(dialog.sources()), shown);
        for (int i = 0; i < dialog.sources().size(); ++i)
            QCOMPARE(dialog.lstSources->topLevelItem(i)->checkState(frmSources::ColumnSource) == Qt::Checked,
                     dialog.sources().at(i).enabled);
        QCOMPARE(store.keys().contains(QStringLiteral("ipSources")), !expected.isNull());
        if (!expected.isNull())
            QCOMPARE(store.GetSetting(SettingKeys::IpSources), expected);
        // What the dialog stored, the model holds, and the lookups ask.
        if (!expected.isNull() && expected != stored)
            QCOMPARE(IpSourceList::format(model.monitor->sources()), expected);
    }
};

NETQUILL_TEST(frmSourcesTest)
#include "frmSourcesTest.moc"
