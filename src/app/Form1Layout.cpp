// The main window's controls and menus, placed as designed (positions in twips).
#include "Form1.h"

#include "Caption.h"
#include "ComboCaption.h"
#include "LabelFit.h"
#include "SkinLabel.h"
#include "Twips.h"
#include "modSkin.h"

#include <QAccessibleWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QToolButton>

namespace {
// The height of an IPv6 address line, in twips.
constexpr int IPv6Line = 300;

QGroupBox *frame(QWidget *parent, const QString &caption, int left, int top, int width, int height)
{
    auto *box = new QGroupBox(caption, parent);
    Twips::place(box, left, top, width, height);
    return box;
}

template <typename T>
T *control(QWidget *parent, const QString &text, int left, int top, int width, int height)
{
    auto *widget = new T(text, parent);
    Twips::place(widget, left, top, width, height);
    return widget;
}

// A 21-pixel button has room for its picture only; the caption stays its text all the same.
QToolButton *copyButton(QWidget *parent, int left, int top)
{
    auto *button = new QToolButton(parent);
    button->setText(QStringLiteral("C"));
    button->setIcon(QIcon(QStringLiteral(":/icons/copy.png")));
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    button->setToolTip(QStringLiteral("Copy to clipboard"));
    Twips::place(button, left, top, 315, 315);
    return button;
}

QLineEdit *textBox(QWidget *parent, int left, int top, int width, int height)
{
    auto *box = new QLineEdit(parent);
    Twips::place(box, left, top, width, height);
    return box;
}

// The status line: a read-only line, of a class of its own so that screen readers are given it as
// what it is.
class StatusLine : public QLineEdit {
    Q_OBJECT
public:
    using QLineEdit::QLineEdit;
};

// Qt announces a line edit as editable text; the status line is announced as the window's status bar,
// named by what it says, as Qt names its own status bar.
class AccessibleStatusLine : public QAccessibleWidget {
public:
    explicit AccessibleStatusLine(QWidget *line) : QAccessibleWidget(line, QAccessible::StatusBar) {}
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return static_cast<const QLineEdit *>(widget())->text();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface *accessibleStatusLine(const QString &className, QObject *object)
{
    if (className == QLatin1String("StatusLine") && object && object->isWidgetType())
        return new AccessibleStatusLine(static_cast<QWidget *>(object));
    return nullptr;
}
} // namespace

void Form1::buildControls()
{
    auto *client = new QWidget(this);
    client->setFixedSize(Twips::toPixels(7530), Twips::toPixels(5355));
    setCentralWidget(client);
    setWindowIcon(QIcon(QStringLiteral(":/icons/netquill.png")));

    Frame1 = frame(client, QStringLiteral("Local IP Addresses"), 60, 60, 3675, 2055);
    Label3 = control<SkinLabel>(Frame1, QStringLiteral("Internal:"), 120, 240, 3495, 375);
    cmdCopy1 = copyButton(Frame1, 120, 660);
    Label2 = control<SkinLabel>(Frame1, QStringLiteral("000.000.000.000"), 600, 720, 2835, 315);
    Label4 = control<SkinLabel>(Frame1, QStringLiteral("External:"), 120, 1020, 3495, 375);
    cmdCopy2 = copyButton(Frame1, 120, 1440);
    Label1 = control<SkinLabel>(Frame1, QStringLiteral("000.000.000.000"), 600, 1500, 2835, 315);
    // Placed by layOutFamilies; an IPv6 address needs the width of the captions.
    Label8 = control<SkinLabel>(Frame1, AddressMonitor::Unknown, 120, 1035, 3495, IPv6Line);
    Label9 = control<SkinLabel>(Frame1, AddressMonitor::Unknown, 120, 2115, 3495, IPv6Line);
    Label8->hide();
    Label9->hide();

    Frame2 = frame(client, QStringLiteral("DNS Converter"), 60, 2160, 3675, 1695);
    Label5 = control<QLabel>(Frame2, QStringLiteral("IP Address:"), 120, 300, 1515, 195);
    Text1 = textBox(Frame2, 120, 540, 2475, 315);
    cmdConvert = control<QPushButton>(Frame2, QStringLiteral("Convert"), 2640, 540, 975, 315);
    Label6 = control<QLabel>(Frame2, QStringLiteral("Domain Name:"), 120, 900, 1875, 195);
    Text2 = textBox(Frame2, 120, 1140, 2475, 315);
    cmdConvert2 = control<QPushButton>(Frame2, QStringLiteral("Convert"), 2640, 1140, 975, 315);

    Frame4 = frame(client, QStringLiteral("Whois Lookup"), 60, 3900, 3675, 1035);
    Label7 = control<QLabel>(Frame4, QStringLiteral("IP Address/Domain:"), 120, 300, 2955, 195);
    Text3 = textBox(Frame4, 120, 540, 2475, 315);
    cmdWhois = control<QPushButton>(Frame4, QStringLiteral("Whois"), 2640, 540, 975, 315);

    Frame3 = frame(client, QStringLiteral("Program Options"), 3780, 60, 3675, 2055);
    cmdWebsite = control<QPushButton>(Frame3, QString(), 120, 240, 3435, 435);
    Command2 =
        control<QPushButton>(Frame3, QStringLiteral("Turn on IP Address Overlay"), 120, 720, 3435, 435);
    Command1 = control<QPushButton>(Frame3, QStringLiteral("Refresh"), 120, 1200, 3435, 435);

    Frame5 = frame(client, QStringLiteral("Automation Options"), 3780, 2160, 3675, 1515);
    Check2 = control<QCheckBox>(Frame5, QStringLiteral("Run at startup"), 120, 300, 3015, 255);
    Check1 = control<QCheckBox>(Frame5, QStringLiteral("Auto Refresh Every:"), 120, 660, 2715, 195);
    cmbRefresh = new QComboBox(Frame5);
    ComboCaption::link(cmbRefresh, Check1->text());
    Twips::place(cmbRefresh, 120, 960, 3450, 315);
    cmbRefresh->setEditable(true);
    cmbRefresh->setInsertPolicy(QComboBox::NoInsert);
    cmbRefresh->addItems({QStringLiteral("01 Minute"), QStringLiteral("05 Minutes"),
                          QStringLiteral("10 Minutes"), QStringLiteral("30 Minutes"),
                          QStringLiteral("60 Minutes")});
    // No item is selected until the stored position is restored.
    cmbRefresh->setCurrentIndex(-1);
    cmbRefresh->setEditText(QStringLiteral("10 Minutes"));

    Frame6 = frame(client, QStringLiteral("Email Notification Options"), 3780, 3720, 3675, 1215);
    Check3 = control<QCheckBox>(Frame6, QStringLiteral("Use Email Notification"), 120, 300, 3075, 375);
    Command3 = control<QPushButton>(Frame6, QStringLiteral("Email Configuration"), 120, 660, 3435, 375);
    Command3->setEnabled(false);
    cmdSend = control<QPushButton>(Frame6, QStringLiteral("Command4"), 2640, 300, 495, 255);
    cmdSend->hide();

    // Template places are of no consequence: the templates are never shown.
    SkinLabel1 = SkinLabelArray(SkinLabelArray::Template(Frame1, 3240, 1800, 135, 135));
    SkinLabel2 = SkinLabelArray(SkinLabelArray::Template(Frame2, 3240, 1440, 135, 135));
    SkinLabel3 = SkinLabelArray(SkinLabelArray::Template(Frame4, 3240, 840, 135, 135));
    SkinLabel4 = SkinLabelArray(SkinLabelArray::Template(Frame5, 3240, 1320, 135, 135));
    SkinLabel5 = SkinLabelArray(SkinLabelArray::Template(Frame6, 3240, 1020, 135, 135));

    QAccessible::installFactory(accessibleStatusLine);
    txtStatus = new StatusLine(client);
    Twips::place(txtStatus, 60, 4980, 7395, 285);
    txtStatus->setReadOnly(true);
    txtStatus->setFocusPolicy(Qt::NoFocus);
    QPalette status = txtStatus->palette();
    status.setColor(QPalette::Base, status.color(QPalette::Button));
    txtStatus->setPalette(status);

    for (SkinLabel *address : {Label1, Label2, Label8, Label9})
        address->setTextInteractionFlags(Qt::NoTextInteraction);
    nameControls();
}

// With the families apart, an IPv6 line goes under each address: the address frame grows by two lines
// and whatever lies below its top edge moves down with it. Off, every control is where it was designed.
void Form1::layOutFamilies(bool on)
{
    if (Label8->isHidden() != on)
        return;
    const int extra = on ? 2 * IPv6Line : 0;
    const auto moveTo = [](QWidget *widget, int left, int top) {
        widget->move(Twips::rect(left, top, 0, 0).topLeft());
    };
    Twips::place(Frame1, 60, 60, 3675, 2055 + extra);
    Twips::place(Frame3, 3780, 60, 3675, 2055 + extra);
    const int below = on ? IPv6Line : 0;
    moveTo(Label4, 120, 1020 + below);
    moveTo(cmdCopy2, 120, 1440 + below);
    moveTo(Label1, 600, 1500 + below);
    moveTo(Label9, 120, 1815 + below);
    moveTo(Frame2, 60, 2160 + extra);
    moveTo(Frame4, 60, 3900 + extra);
    moveTo(Frame5, 3780, 2160 + extra);
    moveTo(Frame6, 3780, 3720 + extra);
    moveTo(txtStatus, 60, 4980 + extra);
    Label8->setVisible(on);
    Label9->setVisible(on);
    showCaptions();
    centralWidget()->setFixedSize(Twips::toPixels(7530), Twips::toPixels(5355 + extra));
    // The room an address label may break into depends on what lies under it.
    for (SkinLabel *address : {Label1, Label2})
        LabelFit::showWhole(address, address->text(), centralWidget()->font());
    setFixedSize(sizeHint());
}

void Form1::showCaptions()
{
    const QString families = Label8->isHidden() ? QString() : QStringLiteral(" (IPv4, IPv6)");
    Label3->setText(QStringLiteral("Internal") + families + QLatin1Char(':'));
    Label4->setText(QStringLiteral("External") + families + QLatin1Char(':'));
}

// What screen readers and UI automation announce for controls whose caption is not their own text.
void Form1::nameControls()
{
    Caption::link(Label5, Text1);
    Caption::link(Label6, Text2);
    Caption::link(Label7, Text3);
    // An address label is read by its text, the address; what it is goes with it as a description.
    Label2->setAccessibleDescription(QStringLiteral("Internal IP address"));
    Label1->setAccessibleDescription(QStringLiteral("External IP address"));
    Label8->setAccessibleDescription(QStringLiteral("Internal IPv6 address"));
    Label9->setAccessibleDescription(QStringLiteral("External IPv6 address"));
    Label3->setBuddy(Label2);
    Label4->setBuddy(Label1);
    cmdCopy1->setAccessibleName(QStringLiteral("Copy Internal IP"));
    cmdCopy2->setAccessibleName(QStringLiteral("Copy External IP"));
}

// Every menu and item has a mnemonic (the letter after '&'), unique within its menu, the tray menu's too.
void Form1::buildMenus()
{
    QMenuBar *bar = menuBar();
    mnuFile = bar->addMenu(QStringLiteral("&File"));
    mnuFileItem[0] = mnuFile->addAction(QStringLiteral("&Minimize"), this, [this] { showMinimized(); });
    mnuFileItem[1] = mnuFile->addAction(QStringLiteral("E&xit"), this, [this] { close(); });
    mnuEdit = bar->addMenu(QStringLiteral("&Edit"));
    mnuEditItem[0] = mnuEdit->addAction(QStringLiteral("Copy &Internal IP"), this, &Form1::cmdCopy1_Click);
    mnuEditItem[1] = mnuEdit->addAction(QStringLiteral("Copy &External IP"), this, &Form1::cmdCopy2_Click);
    mnuAction = bar->addMenu(QStringLiteral("&Action"));
    mnuActionItem[0] = mnuAction->addAction(QStringLiteral("&Overlay On/Off"), this, &Form1::Command2_Click);
    mnuActionItem[1] = mnuAction->addAction(QStringLiteral("&Refresh"), this, &Form1::Command1_Click);
    mnuAction->addSeparator();
    mnuSources = mnuAction->addAction(QStringLiteral("Address &Sources..."), this, &Form1::OpenSources);
    mnuHistory = mnuAction->addAction(QStringLiteral("Address &History..."), this, &Form1::OpenHistory);
    mnuChangeCommand =
        mnuAction->addAction(QStringLiteral("Run &Command on Change..."), this, &Form1::OpenChangeCommand);
    mnuNotifyDesktop = mnuAction->addAction(QStringLiteral("&Desktop Notification on Change"));
    mnuNotifyDesktop->setCheckable(true);
    connect(mnuNotifyDesktop, &QAction::toggled, this, &Form1::mnuNotifyDesktop_Click);
    mnuWatchNetwork = mnuAction->addAction(QStringLiteral("Look Up When the &Network Changes"));
    mnuWatchNetwork->setCheckable(true);
    connect(mnuWatchNetwork, &QAction::toggled, this, &Form1::mnuWatchNetwork_Click);
    mnuChannels =
        mnuAction->addAction(QStringLiteral("No&tification Channels..."), this, &Form1::OpenChannels);
    mnuHelp = bar->addMenu(QStringLiteral("&Help"));
    mnuHelpItem[0] = mnuHelp->addAction(QStringLiteral("&View Help"), this, &Form1::OpenHelp);
    mnuAbout = bar->addMenu(QStringLiteral("A&bout"));
    mnuAboutItem[0] = mnuAbout->addAction(QStringLiteral("&About this software"), this, &Form1::OpenAbout);

    mnuPopup = new QMenu(QStringLiteral("PopupMenu"), this);
    mnuPopupItem[0] = mnuPopup->addAction(QStringLiteral("&Show"), this, &Form1::mnuPopupShow_Click);
    mnuPopupItem[1] =
        mnuPopup->addAction(QStringLiteral("Address &Overlay On/Off"), this, &Form1::Command2_Click);
    mnuPopupItem[2] = mnuPopup->addAction(QStringLiteral("E&xit"), this, [this] { close(); });
}

void Form1::applyFonts()
{
    const QFont base = modSkin::DesignFont();
    centralWidget()->setFont(base);
    QFont bold = base;
    bold.setBold(true);
    for (QGroupBox *box : {Frame1, Frame2, Frame3, Frame4, Frame5, Frame6}) {
        box->setFont(bold);
        // Only the caption is bold; the controls inside keep the regular face.
        for (QWidget *child : box->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            child->setFont(base);
    }
    for (QPushButton *button : centralWidget()->findChildren<QPushButton *>())
        button->setFont(bold);
    txtStatus->setFont(bold);
    adjustSize();
    setFixedSize(sizeHint());
}

#include "Form1Layout.moc"
