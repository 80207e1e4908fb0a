#include "DnsConverter.h"
#include "TestMain.h"

#include <QPromise>
#include <QSignalSpy>
#include <QTest>

#include <list>

using Direction = DnsConverter::Direction;

namespace {
/// A resolver whose lookups answer only when the test says so.
struct HeldResolver {
    std::list<QPromise<QString>> lookups;
    QStringList asked;

    DnsConverter::Resolver resolver()
    {
        return [this](Direction, const QString &text) {
            asked << text;
            lookups.emplace_back().start();
            return lookups.back().future();
        };
    }
    void answer(int index, const QString &result)
    {
        auto &lookup = *std::next(lookups.begin(), index);
        lookup.addResult(result);
        lookup.finish();
    }
};
} // namespace

class DnsConverterTest : public QObject {
    Q_OBJECT
private slots:
    void onlyTheNewestConversionAnswers_data()
    {
        QTest::addColumn<QList<int>>("answerOrder"); // lookups in the order they answer
        QTest::newRow("answers in order") << QList<int>{0, 1};
        QTest::newRow("the earlier answers last") << QList<int>{1, 0};
        QTest::newRow("the earlier never answers") << QList<int>{1};
    }
    void onlyTheNewestConversionAnswers()
    {
        QFETCH(QList<int>, answerOrder);
        HeldResolver held;
        DnsConverter converter;
        converter.setResolver(held.resolver());
        QSignalSpy converted(&converter, &DnsConverter::converted);
        converter.convert(Direction::NameToAddress, QStringLiteral("old.example"));
        converter.convert(Direction::AddressToName, QStringLiteral("192.0.2.1"));
        QCOMPARE(held.asked, (QStringList{"old.example", "192.0.2.1"}));
        for (const int index : answerOrder)
            held.answer(index, QStringLiteral("answer %1").arg(index));
        QTRY_COMPARE_WITH_TIMEOUT(converted.size(), 1, 5000);
        QTest::qWait(50); // room for a late answer to be written wrongly
        QCOMPARE(converted.size(), 1);
        QCOMPARE(converted.at(0).at(0).value<Direction>(), Direction::AddressToName);
        QCOMPARE(converted.at(0).at(1).toString(), QStringLiteral("answer 1"));
        QVERIFY(!converter.isBusy());
    }

    void lookupThatGivesUpClearsTheBox()
    {
        HeldResolver held;
        DnsConverter converter;
        converter.setResolver(held.resolver());
        QSignalSpy converted(&converter, &DnsConverter::converted);
        converter.convert(Direction::NameToAddress, QStringLiteral("gone.example"));
        held.lookups.clear(); // a promise dropped unanswered cancels its lookup
        QTRY_COMPARE_WITH_TIMEOUT(converted.size(), 1, 5000);
        QCOMPARE(converted.at(0).at(1).toString(), QString());
    }
};

NETQUILL_TEST(DnsConverterTest)
#include "DnsConverterTest.moc"
