#include "Form2.h"
#include "LabelFit.h"
#include "SkinLabel.h"
#include "SkinLabelArray.h"
#include "TestMain.h"
#include "Twips.h"
#include "modSkin.h"

#include <QAccessible>
#include <QFontInfo>
#include <QGroupBox>
#include <QImage>
#include <QTest>
#include <QToolButton>

namespace {
/// The main window's "Local IP Addresses" frame, laid out as the main window lays it out (twips).
struct MainFrame {
    QWidget client;
    QGroupBox *frame;
    SkinLabel *internal, *external;

    MainFrame()
    {
        client.resize(Twips::toPixels(7530), Twips::toPixels(5355));
        frame = new QGroupBox(QStringLiteral("Local IP Addresses"), &client);
        Twips::place(frame, 60, 60, 3675, 2055);
        QFont bold = modSkin::DesignFont();
        bold.setBold(true);
        frame->setFont(bold);
        place(new SkinLabel(QStringLiteral("Internal:"), frame), 120, 240, 3495, 375);
        place(new QToolButton(frame), 120, 660, 315, 315);
        internal = place(new SkinLabel(QStringLiteral("000.000.000.000"), frame), 600, 720, 2835, 315);
        place(new SkinLabel(QStringLiteral("External:"), frame), 120, 1020, 3495, 375);
        place(new QToolButton(frame), 120, 1440, 315, 315);
        external = place(new SkinLabel(QStringLiteral("000.000.000.000"), frame), 600, 1500, 2835, 315);
        SkinLabelArray::Template(frame, 3240, 1800, 135, 135);
    }
    template <typename T> T *place(T *widget, int left, int top, int width, int height)
    {
        Twips::place(widget, left, top, width, height);
        widget->setFont(modSkin::DesignFont());
        return widget;
    }
};

/// The rows of the picture that hold ink, as bands of consecutive rows; and the ink's bounding box.
QList<std::pair<int, int>> inkBands(const QImage &image, const QColor &background, QRect *box)
{
    QList<std::pair<int, int>> bands;
    *box = QRect();
    for (int y = 0; y < image.height(); ++y) {
        bool ink = false;
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (qAbs(pixel.red() - background.red()) + qAbs(pixel.green() - background.green()) +
                    qAbs(pixel.blue() - background.blue()) >
                48) {
                ink = true;
                *box |= QRect(x, y, 1, 1);
            }
        }
        if (!ink)
            continue;
        if (!bands.isEmpty() && bands.last().second == y - 1)
            bands.last().second = y;
        else
            bands.append({y, y});
    }
    return bands;
}
} // namespace

class AddressLabelsTest : public QObject {
    Q_OBJECT
private slots:
    // An address is shown whole and readable, at 9 pixels or more: on one line where it fits, else
    // broken at a colon onto two, in whatever room the label has.
    void addressShownWholeAndReadable_data()
    {
        QTest::addColumn<QString>("place");  // main: the main window's external or internal label; overlay
        QTest::addColumn<QString>("before"); // shown first
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("lines");
        QTest::addColumn<bool>("designFace"); // in the label's own face, not a smaller one

        const QString v4 = QStringLiteral("203.0.113.7");
        const QString full = QStringLiteral("2001:0db8:85a3:0000:0000:8a2e:0370:7334"); // 39 characters
        const QString longest = QStringLiteral("ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255"); // 45
        const QString shortV6 = QStringLiteral("2001:db8::1");
        // The external label has free room below it within the frame: it grows and keeps its face.
        QTest::newRow("main external, IPv4") << "external"
                                             << "" << v4 << 1 << true;
        QTest::newRow("main external, full IPv6") << "external"
                                                  << "" << full << 2 << true;
        QTest::newRow("main external, longest IPv6") << "external"
                                                     << "" << longest << 2 << true;
        QTest::newRow("main external, short IPv6") << "external"
                                                   << "" << shortV6 << 1 << true;
        QTest::newRow("main external, IPv6 then IPv4") << "external" << full << v4 << 1 << true;
        QTest::newRow("main external, IPv6 again") << "external" << longest << full << 2 << true;
        // The internal label has the "External:" caption right below it: two lines in its own height.
        QTest::newRow("main internal, full IPv6") << "internal"
                                                  << "" << full << 2 << false;
        // Narrow digits: one line at the smallest size holds it, as well as two would.
        QTest::newRow("main internal, longest IPv6") << "internal"
                                                     << "" << longest << 1 << false;
        QTest::newRow("main internal, IPv6 then IPv4") << "internal" << longest << v4 << 1 << true;
        // The overlay widens instead.
        QTest::newRow("overlay, IPv4") << "overlay"
                                       << "" << v4 << 1 << true;
        QTest::newRow("overlay, full IPv6") << "overlay"
                                            << "" << full << 1 << true;
        QTest::newRow("overlay, longest IPv6") << "overlay"
                                               << "" << longest << 1 << true;
        QTest::newRow("overlay, IPv6 then IPv4") << "overlay" << longest << v4 << 1 << true;
        QTest::newRow("overlay, IPv6 again") << "overlay" << longest << full << 1 << true;
    }
    void addressShownWholeAndReadable()
    {
        QFETCH(QString, place);
        QFETCH(QString, before);
        QFETCH(QString, address);
        QFETCH(int, lines);
        QFETCH(bool, designFace);

        MainFrame main;
        Form2 overlay;
        QLabel *label = nullptr;
        QFont design = modSkin::DesignFont();
        const auto show = [&](const QString &text) {
            if (place == QLatin1String("overlay"))
                overlay.ShowAddresses(IpSnapshot{QStringLiteral("192.168.1.20"), text});
            else
                LabelFit::showWhole(label, text, main.client.font());
        };
        QWidget *window = &main.client;
        if (place == QLatin1String("overlay")) {
            label = overlay.Label2;
            design = label->font();
            window = &overlay;
        } else {
            main.client.setFont(design);
            label = place == QLatin1String("external") ? main.external : main.internal;
        }
        const QRect designed = label->geometry();
        const QSize windowSize = window->size();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        if (!before.isEmpty())
            show(before);
        show(address);

        QCOMPARE(label->text(), address); // what screen readers and tool tips read stays whole
        const QStringList shown = LabelFit::linesShown(label);
        QCOMPARE(shown.join(QString()), address);
        QCOMPARE(shown.size(), lines);
        QVERIFY2(QFontInfo(label->font()).pixelSize() >= 9, qPrintable(label->font().toString()));
        QCOMPARE(label->font() == design, designFace);
        const QFontMetrics metrics(label->font());
        for (const QString &line : shown)
            QVERIFY2(metrics.horizontalAdvance(line) <= label->contentsRect().width(), qPrintable(line));
        QVERIFY(lines * metrics.lineSpacing() <= label->contentsRect().height());

        // The label keeps its place, and takes no room that another control uses.
        QCOMPARE(label->pos(), designed.topLeft());
        QVERIFY(label->parentWidget()->rect().contains(label->geometry()));
        for (const QWidget *other :
             label->parentWidget()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            if (other != label && other->isVisible())
                QVERIFY2(
                    !other->geometry().intersects(label->geometry()) ||
                        other->geometry().intersects(designed),
                    qPrintable(other->objectName() + QLatin1Char(' ') + other->metaObject()->className()));
        }
        const bool v4 = !address.contains(QLatin1Char(':'));
        if (place == QLatin1String("overlay")) {
            QCOMPARE(overlay.pos(), QPoint(0, 0));
            QCOMPARE(label->height(), designed.height());
            QCOMPARE(overlay.size() == windowSize, v4); // back to its designed size after an IPv6 address
        } else if (lines == 1) {
            QCOMPARE(label->size(), designed.size());
        }

        // On screen: as many lines of ink as lines of text, none cut at the label's edges.
        const QImage picture = label->grab().toImage();
        QRect ink;
        const auto bands = inkBands(picture, label->palette().color(label->backgroundRole()), &ink);
        QCOMPARE(bands.size(), lines);
        QVERIFY2(ink.right() < picture.width() - 1 && ink.top() > 0 && ink.bottom() < picture.height() - 1,
                 qPrintable(QStringLiteral("ink %1,%2 %3x%4 in %5x%6")
                                .arg(ink.x())
                                .arg(ink.y())
                                .arg(ink.width())
                                .arg(ink.height())
                                .arg(picture.width())
                                .arg(picture.height())));
    }

    void overlayIsAnnouncedAsAWindow()
    {
        Form2 overlay;
        overlay.show();
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(&overlay);
        QVERIFY(accessible);
        QVERIFY2(accessible->role() == QAccessible::Window, qPrintable(QString::number(accessible->role())));
        QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("IP Address Overlay"));
    }
};

NETQUILL_TEST(AddressLabelsTest)
#include "AddressLabelsTest.moc"
