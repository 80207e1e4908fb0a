#include "modSkin.h"
#include "PictureBox.h"
#include "Skin.h"
#include "SkinLabelArray.h"
#include "TestMain.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

class ModSkinTest : public QObject {
    Q_OBJECT
private slots:
    void substitution_data()
    {
        QTest::addColumn<bool>("containerTest");
        QTest::addColumn<int>("copies");
        QTest::newRow("without the container test") << false << 4;
        QTest::newRow("with the container test") << true << 3;
    }
    void substitution()
    {
        QFETCH(bool, containerTest);
        QFETCH(int, copies);
        QWidget window;
        SkinLabelArray templates(SkinLabelArray::Template(&window, 0, 0, 135, 135));
        auto *shown = new QLabel(QStringLiteral("Internal:"), &window);
        shown->setGeometry(4, 8, 49, 13);
        QFont font(QStringLiteral("DejaVu Sans"), 11, QFont::Bold);
        shown->setFont(font);
        auto *box = new QLineEdit(&window);
        shown->setBuddy(box);
        shown->setAccessibleDescription(QStringLiteral("the local address"));
        auto *hidden = new QLabel(QStringLiteral("hidden"), &window);
        hidden->hide();
        new QLabel(QStringLiteral("third"), &window);
        new SkinLabel(QStringLiteral("already skinned"), &window);
        auto *frame = new QGroupBox(&window); // holds no template
        auto *framed = new QLabel(QStringLiteral("in a frame"), frame);

        modSkin::SubstituteSkinLabels(&window, {&templates}, containerTest);
        QCOMPARE(templates.UBound(), copies);
        const SkinLabel *copy = templates[1];
        QCOMPARE(copy->parentWidget(), &window);
        QCOMPARE(copy->geometry(), shown->geometry());
        QCOMPARE(copy->text(), shown->text());
        QCOMPARE(copy->font(), font);
        QVERIFY(!copy->isHidden());
        QVERIFY(templates[2]->isHidden()); // an invisible label gives an invisible copy
        QVERIFY(templates[0]->isHidden());
        QCOMPARE(shown->text(), QStringLiteral("Internal:"));
        // The copy replaces the label it covers, also as the caption screen readers give the box.
        QVERIFY(shown->isHidden());
        QCOMPARE(copy->accessibleDescription(), QStringLiteral("the local address"));
        const auto captions = QAccessible::queryAccessibleInterface(box)->relations(QAccessible::Label);
        QCOMPARE(captions.size(), 1);
        QCOMPARE(captions.first().first->object(), copy);
        // A label with no copy over it, in another container, stays.
        QVERIFY(!framed->isHidden());
    }

    void colorControls()
    {
        QWidget window;
        auto *button = new QPushButton(&window);
        auto *text = new QLineEdit(&window);
        auto *list = new QListWidget(&window);
        auto *combo = new QComboBox(&window);
        auto *picture = new PictureBox(&window);
        auto *label = new QLabel(&window);
        auto *check = new QCheckBox(&window);
        const QPalette before = label->palette();
        const quint32 background = 0x112233, foreground = 0x445566, panel = 0x778899;
        modSkin::ColorControls(&window, background, foreground, panel, 0xAABBCC);

        QCOMPARE(button->palette().color(QPalette::Button), Skin::toColor(background));
        QCOMPARE(button->palette().color(QPalette::ButtonText), before.color(QPalette::ButtonText));
        for (QWidget *box : std::initializer_list<QWidget *>{text, list, combo}) {
            QCOMPARE(box->palette().color(QPalette::Base), Skin::toColor(background));
            QCOMPARE(box->palette().color(QPalette::Text), Skin::toColor(foreground));
        }
        QCOMPARE(picture->palette().color(QPalette::Window), Skin::toColor(panel));
        for (QWidget *untouched : std::initializer_list<QWidget *>{label, check})
            QCOMPARE(untouched->palette(), before);
    }
};

NETQUILL_TEST(ModSkinTest)
#include "ModSkinTest.moc"
