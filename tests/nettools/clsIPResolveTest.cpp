#include "clsIPResolve.h"
#include "TestMain.h"

#include <QTest>
#include <QtEndian>

#include <cstring>

// Lookups stay on this machine: localhost comes from the hosts file, and the name that does not
// resolve has a label too long for any DNS query, so the resolver refuses it without asking a server.
class clsIPResolveTest : public QObject {
    Q_OBJECT
private slots:
    void dottedAddresses_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("dotted");
        QTest::addColumn<QByteArray>("bytes"); // in memory order; empty when there is no 32-bit value

        QTest::newRow("three parts") << "10.0.0" << false << QByteArray();
        QTest::newRow("part of 256") << "10.0.0.256" << false << QByteArray();
        QTest::newRow("empty part") << "10..0.1" << false << QByteArray();
        QTest::newRow("letters") << "10.0.x.1" << false << QByteArray();
        QTest::newRow("negative part") << "10.0.-1.1" << false << QByteArray();
        QTest::newRow("empty text") << "" << false << QByteArray();
        QTest::newRow("blanks around parts") << " 10 .0. 0 . 1 " << true << QByteArray("\x0a\x00\x00\x01", 4);
        QTest::newRow("leading zeros") << "010.001.000.001" << true << QByteArray("\x0a\x01\x00\x01", 4);
        QTest::newRow("192.168.1.200") << "192.168.1.200" << true << QByteArray("\xc0\xa8\x01\xc8", 4);
        QTest::newRow("last part 128") << "0.0.0.128" << true << QByteArray("\x00\x00\x00\x80", 4);
        QTest::newRow("all 255") << "255.255.255.255" << true << QByteArray("\xff\xff\xff\xff", 4);
        // Five parts pass; the fourth and fifth both land in the top byte.
        QTest::newRow("more than four parts") << "1.2.3.4.5" << true << QByteArray("\x01\x02\x03\x09", 4);
        QTest::newRow("more than four parts, past 32 bits") << "1.2.3.255.255" << true << QByteArray();
    }
    void dottedAddresses()
    {
        QFETCH(QString, text);
        QFETCH(bool, dotted);
        QFETCH(QByteArray, bytes);
        QCOMPARE(clsIPResolve::IsDottedAddress(text), dotted);
        if (!dotted)
            return;
        const auto value = clsIPResolve::DottedToLong(text);
        QCOMPARE(value.has_value(), !bytes.isEmpty());
        if (value) {
            const qint32 stored = qToLittleEndian(*value);
            QByteArray memory(4, '\0');
            std::memcpy(memory.data(), &stored, 4);
            QCOMPARE(memory, bytes);
        }
    }

    void conversions_data()
    {
        QTest::addColumn<bool>("toName");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("name localhost") << false << "localhost"
                                        << "127.0.0.1";
        QTest::newRow("empty name") << false << ""
                                    << "";
        QTest::newRow("name that does not resolve") << false << QString(64, QLatin1Char('x')) + ".invalid"
                                                    << "";
        QTest::newRow("name with a NUL") << false << QStringLiteral("localhost") + QChar(0) + "x"
                                         << "";
        QTest::newRow("three-part address") << true << "127.0.0"
                                            << "";
        QTest::newRow("address with 256") << true << "127.0.0.256"
                                          << "";
        QTest::newRow("address past 32 bits") << true << "1.2.3.255.255"
                                              << "";
    }
    void conversions()
    {
        QFETCH(bool, toName);
        QFETCH(QString, input);
        QFETCH(QString, expected);
        clsIPResolve resolver;
        QCOMPARE(toName ? resolver.AddressToName(input) : resolver.NameToAddress(input), expected);
    }

    void loopbackRoundTrip()
    {
        const QString name = clsIPResolve().AddressToName(QStringLiteral("127.0.0.1"));
        QVERIFY(!name.isEmpty());
        QCOMPARE(clsIPResolve().NameToAddress(name), QStringLiteral("127.0.0.1"));
    }
};

NETQUILL_TEST(clsIPResolveTest)
#include "clsIPResolveTest.moc"
