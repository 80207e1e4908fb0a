#include "frmHistory.h"
#include "TestMain.h"

#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

namespace {
using Event = AddressHistory::Event;
using Kind = AddressHistory::Kind;

QList<Event> sample()
{
    const QDateTime at(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
    return {{at.addSecs(-60),
             Kind::Disagree,
             QStringLiteral("198.51.100.1"),
             QStringLiteral("Error: Sources disagree: 203.0.113.7 (a), 203.0.113.8 (b)"),
             {}},
            {at, Kind::External, QStringLiteral("198.51.100.1"), QStringLiteral("203.0.113.7"),
             QStringLiteral("Netquill page")},
            {at.addSecs(60), Kind::Failing, {}, QStringLiteral("Error: Connection not available."), {}},
            {at.addSecs(120),
             Kind::Working,
             {},
             QStringLiteral("Finished looking up IPs"),
             QStringLiteral("Netquill page")}};
}
} // namespace

class frmHistoryTest : public QObject {
    Q_OBJECT
private slots:
    void copyTakesTheSelectionOrEverything_data()
    {
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QStringList>("events"); // the Event column of the lines copied, in order
        const QStringList all{"Lookups working again", "Lookups failing", "External address changed",
                              "Sources disagree"};
        QTest::newRow("nothing selected") << QList<int>{} << all;
        QTest::newRow("one row") << QList<int>{2} << QStringList{all.at(2)};
        QTest::newRow("two rows, shown order") << QList<int>{2, 0} << QStringList{all.at(0), all.at(2)};
    }
    void copyTakesTheSelectionOrEverything()
    {
        QFETCH(QList<int>, selected);
        QFETCH(QStringList, events);
        QTemporaryDir dir;
        AddressHistory history(dir.filePath(QStringLiteral("history.csv")));
        for (const Event &event : sample())
            QVERIFY(history.append(event));
        frmHistory window(history.path());
        for (int row : selected)
            window.lstHistory->topLevelItem(row)->setSelected(true);
        const QStringList lines = window.rowsAsText().split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), events.size());
        for (int i = 0; i < lines.size(); ++i) {
            const QStringList cells = lines.at(i).split(u'\t');
            QCOMPARE(cells.size(), 5);
            QCOMPARE(cells.at(frmHistory::ColumnEvent), events.at(i));
            if (i == 0 && selected.isEmpty())
                QCOMPARE(cells.at(frmHistory::ColumnSource), QStringLiteral("Netquill page"));
        }
    }

    void clearAsksFirst_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("no keeps the history") << false;
        QTest::newRow("yes empties the file") << true;
    }
    void clearAsksFirst()
    {
        QFETCH(bool, yes);
        QTemporaryDir dir;
        AddressHistory history(dir.filePath(QStringLiteral("history.csv")));
        for (const Event &event : sample())
            QVERIFY(history.append(event));
        frmHistory window(history.path());
        window.show();
        bool asked = false;
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY(box);
            asked = true;
            box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
        });
        window.cmdClear->click();
        QVERIFY(asked);
        QCOMPARE(QFile(history.path()).size() == 0, yes);
        QCOMPARE(AddressHistory::read(history.path()).size(), yes ? 0 : sample().size());
        QCOMPARE(window.lstHistory->topLevelItemCount(), yes ? 0 : int(sample().size()));
        QCOMPARE(window.cmdClear->isEnabled(), !yes);
    }
};

NETQUILL_TEST(frmHistoryTest)
#include "frmHistoryTest.moc"
