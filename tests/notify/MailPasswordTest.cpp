#include "MailPassword.h"
#include "AddressMonitor.h"
#include "ChannelSecrets.h"
#include "SettingsStore.h"
#include "TempSettings.h"
#include "TestMain.h"
#include "frmConfigure.h"

#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

namespace {
// The program's own entry: the keyring is a private one (with-keyring.sh), or there is none.
const QString Service = QStringLiteral("Netquill");

QString readBack()
{
    MailPassword fresh(Service);
    fresh.Load();
    if (!QTest::qWaitFor([&] { return fresh.state() == MailPassword::State::Loaded; }, 10000))
        return QStringLiteral("<the keyring did not answer>");
    return fresh.value();
}

bool anyFileHolds(const QString &folder, const QByteArray &text)
{
    for (QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(text))
            return true;
    }
    return false;
}
} // namespace

/// The mail password typed into the dialog: in the keyring where there is one (run on a private
/// session bus with its own keyring), in memory only where there is none, and never in the settings.
class MailPasswordTest : public QObject {
    Q_OBJECT
private slots:
    void typedPassword();
};

void MailPasswordTest::typedPassword()
{
    const bool keyring = qEnvironmentVariable("NETQUILL_TEST_KEYRING") == QLatin1String("1");
    TempSettings temp;
    SettingsStore store(QStringLiteral("Netquill"));
    AddressMonitor monitor(store);
    MailPassword &keeper = *monitor.password();
    QPointer<frmConfigure> window = new frmConfigure(monitor, {});
    QTRY_COMPARE_WITH_TIMEOUT(keeper.state(), MailPassword::State::Loaded, 10000);
    QCOMPARE(keeper.keyringAvailable(), keyring);
    QCOMPARE(window->lblKeyring && !window->lblKeyring->isHidden(), !keyring);

    QSignalSpy written(&keeper, &MailPassword::written);
    window->txtUser->setText(QStringLiteral("alice"));
    QTest::keyClicks(window->txtPassword, QStringLiteral("hunter2-x"));
    QCOMPARE(monitor.mailSettings().strPassword, QStringLiteral("hunter2-x"));
    QCOMPARE(store.GetSetting(SettingKeys::User), QStringLiteral("alice"));
    // One keyring write for the whole word, once typing pauses.
    QCOMPARE(written.count(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(written.count(), 1, 10000);
    QCOMPARE(written.at(0).at(0).toBool(), keyring);
    QCOMPARE(readBack(), keyring ? QStringLiteral("hunter2-x") : QString());
    QCOMPARE(written.count(), 1); // the read above came after every write
    QVERIFY(store.WaitForWrites());
    QVERIFY(!anyFileHolds(temp.path(), "hunter2"));

    // A channel's token takes the same road, and another program finds it there.
    ChannelConfig gotify;
    gotify.name = QStringLiteral("phone");
    gotify.kind = ChannelConfig::Kind::Gotify;
    gotify.url = QUrl(QStringLiteral("https://gotify.test"));
    QVERIFY(monitor.saveChannel({}, gotify, QStringLiteral("tk-gotify-9")));
    QVERIFY(store.WaitForWrites());
    QVERIFY(!anyFileHolds(temp.path(), "tk-gotify-9"));
    ChannelSecrets fresh(Service);
    QString token = QStringLiteral("<not read>");
    QTest::qWait(500); // the keyring takes the write first
    fresh.whenReady(gotify.name, [&token](const QString &secret) { token = secret; });
    QTRY_COMPARE_WITH_TIMEOUT(token, keyring ? QStringLiteral("tk-gotify-9") : QString(), 10000);

    // Cleared and the window closed at once, it leaves the keyring too.
    window->txtPassword->selectAll();
    QTest::keyClick(window->txtPassword, Qt::Key_Delete);
    QCOMPARE(monitor.mailSettings().strPassword, QString());
    window->close();
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 2000);
    QTRY_COMPARE_WITH_TIMEOUT(written.count(), 2, 10000);
    QCOMPARE(readBack(), QString());
}

NETQUILL_TEST(MailPasswordTest)
#include "MailPasswordTest.moc"
