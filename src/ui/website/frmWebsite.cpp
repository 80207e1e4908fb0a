#include "frmWebsite.h"

#include "Caption.h"
#include "Twips.h"
#include "WebsiteLayout.h"

#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QWebEngineHistory>
#include <QWebEngineLoadingInfo>
#include <QWebEngineView>

namespace {
Q_LOGGING_CATEGORY(lcWebsite, "netquill.ui")

QPushButton *button(QWidget *parent, const QString &text, const QString &tip, int left, int top, int width,
                    int height)
{
    auto *widget = new QPushButton(text, parent);
    widget->setToolTip(tip);
    Twips::place(widget, left, top, width, height);
    return widget;
}

int pixels(float twips)
{
    return Twips::toPixels(qRound(twips));
}

// Qt announces a top-level QWidget as a client area; the browser is a window of its own. (The library
// is never unloaded, so the factory stays valid.)
QAccessibleInterface *accessibleBrowser(const QString &className, QObject *object)
{
    if (className == QLatin1String("frmWebsite") && object && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    return nullptr;
}
} // namespace

frmWebsite::frmWebsite(const WebsiteHost &host, QWidget *parent) : QWidget(parent, Qt::Window), m_host(host)
{
    setAttribute(Qt::WA_DeleteOnClose);
    QAccessible::installFactory(accessibleBrowser);
    setWindowIcon(QIcon(QStringLiteral(":/icons/netquill.png")));
    setFont(m_host.designFont);
    resize(Twips::toPixels(10545), Twips::toPixels(8580));

    frmBrowser = new QGroupBox(QStringLiteral("Browser"), this);
    Twips::place(frmBrowser, 0, 0, 6375, 7215);
    QFont bold = m_host.designFont;
    bold.setBold(true);
    frmBrowser->setFont(bold);
    Label5 = new QLabel(QStringLiteral("URL:"), frmBrowser);
    Twips::place(Label5, 120, 300, 1215, 255);
    Text1 = new QLineEdit(frmBrowser);
    Twips::place(Text1, WebsiteLayout::Text1Left, 240, 4875, 315);
    Caption::link(Label5, Text1);
    Command3 = button(frmBrowser, QStringLiteral("Go"), QStringLiteral("browse the entered url"), 5460, 240,
                      WebsiteLayout::Command3Width, 315);
    Command4 = button(frmBrowser, QStringLiteral("Back"), QStringLiteral("back"), 540, 600, 1000, 435);
    Command5 = button(frmBrowser, QStringLiteral("Forward"), QStringLiteral("forward"), 1620, 600, 1000, 435);
    Command6 = button(frmBrowser, QStringLiteral("Stop"), QStringLiteral("stop"), 2700, 600, 1000, 435);
    Command7 = button(frmBrowser, QStringLiteral("Refresh"), QStringLiteral("refresh"), 3780, 600, 1000, 435);
    Command6->setEnabled(false); // until a page is loading
    WebBrowser1 = new QWebEngineView(frmBrowser);
    Twips::place(WebBrowser1, WebsiteLayout::WebBrowser1Left, WebsiteLayout::WebBrowser1Top, 6135, 5595);
    SkinLabel1 = m_host.SkinLabelTemplate(frmBrowser, 3180, 6840, 555, 135);
    // Only the frame's caption is bold.
    for (QWidget *child : frmBrowser->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (child != SkinLabel1)
            child->setFont(m_host.designFont);
    }

    // Created after the frame, so that it lies on top of the frame's lower part, which the layout
    // lets run under it.
    StatusBar1 = new QStatusBar(this);
    StatusBar1->setFixedHeight(Twips::toPixels(315));
    addPanel();

    QWidget::setTabOrder(Command6, Command3);
    QWidget::setTabOrder(Command3, Text1);
    QWidget::setTabOrder(Text1, Command5);
    QWidget::setTabOrder(Command5, Command4);
    QWidget::setTabOrder(Command4, Command7);
    QWidget::setTabOrder(Command7, WebBrowser1);

    connect(Command3, &QPushButton::clicked, this, &frmWebsite::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &frmWebsite::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &frmWebsite::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &frmWebsite::Command6_Click);
    connect(Command7, &QPushButton::clicked, this, &frmWebsite::Command7_Click);
    // Enter navigates as "Go" does; the key still goes on to the box.
    connect(Text1, &QLineEdit::returnPressed, this, &frmWebsite::Command3_Click);

    // The engine's status text: the link under the pointer, or how the page's loading goes.
    connect(WebBrowser1->page(), &QWebEnginePage::linkHovered, this,
            &frmWebsite::WebBrowser1_StatusTextChange);
    connect(WebBrowser1->page(), &QWebEnginePage::loadingChanged, this,
            &frmWebsite::WebBrowser1_LoadingChanged);
    // A failed download completes too: the box and the caption then show what the engine shows.
    connect(WebBrowser1, &QWebEngineView::loadFinished, this, &frmWebsite::WebBrowser1_DownloadComplete);
    connect(WebBrowser1, &QWebEngineView::urlChanged, this, &frmWebsite::updateHistoryButtons);
    updateHistoryButtons();

    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

QLabel *frmWebsite::addPanel()
{
    auto *panel = new QLabel(StatusBar1);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setTextFormat(Qt::PlainText);
    StatusBar1->addWidget(panel);
    Panels.append(panel);
    Form_Resize();
    return panel;
}

void frmWebsite::Form_Load()
{
    // No step is trapped: a failure ends the load where it happens.
    addPanel();
    setWindowTitle(m_host.strWebsite);
    m_host.SetAlwaysOnTop(this, true);
    if (m_host.blnSkinEnabled)
        m_host.SkinWindow(this, SkinLabel1);
    Navigate(m_host.strWebsite);
    showMaximized();
    // In front of the other windows, but not kept above them.
    m_host.SetAlwaysOnTop(this, false);
}

void frmWebsite::Navigate(const QString &address)
{
    WebBrowser1->load(QUrl::fromUserInput(address));
}

void frmWebsite::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void frmWebsite::Form_Resize()
{
    const QRect outer = frameGeometry();
    const WebsiteLayout layout = WebsiteLayout::compute(float(outer.width() * Twips::PerPixel),
                                                        float(outer.height() * Twips::PerPixel),
                                                        float(StatusBar1->height() * Twips::PerPixel));
    StatusBar1->setGeometry(0, height() - StatusBar1->height(), width(), StatusBar1->height());
    const float panelWidths[] = {layout.panel1Width, layout.panel2Width};
    for (int i = 0; i < Panels.size() && i < 2; ++i)
        Panels[i]->setFixedWidth(pixels(panelWidths[i]));
    frmBrowser->resize(pixels(layout.frmBrowserWidth), pixels(layout.frmBrowserHeight));
    Text1->resize(pixels(layout.Text1Width), Text1->height());
    Command3->move(pixels(layout.Command3Left), Command3->y());
    WebBrowser1->resize(pixels(layout.WebBrowser1Width), pixels(layout.WebBrowser1Height));
}

void frmWebsite::Command3_Click()
{
    Navigate(Text1->text());
}

// The engine drops history steps that are not there (Back on the first page) without a word.
void frmWebsite::Command4_Click()
{
    WebBrowser1->back();
}

void frmWebsite::Command5_Click()
{
    WebBrowser1->forward();
}

void frmWebsite::Command6_Click()
{
    WebBrowser1->stop();
}

void frmWebsite::Command7_Click()
{
    WebBrowser1->reload();
}

void frmWebsite::WebBrowser1_StatusTextChange(const QString &text)
{
    Panels.first()->setText(text);
}

void frmWebsite::WebBrowser1_LoadingChanged(const QWebEngineLoadingInfo &info)
{
    // Stop is offered only while there is a load to stop.
    Command6->setEnabled(info.status() == QWebEngineLoadingInfo::LoadStartedStatus);
    switch (info.status()) {
    case QWebEngineLoadingInfo::LoadStartedStatus:
        WebBrowser1_StatusTextChange(QStringLiteral("Opening page %1...").arg(info.url().toString()));
        break;
    case QWebEngineLoadingInfo::LoadFailedStatus:
        // The engine's error page is no page of the site: the status says what went wrong.
        qCWarning(lcWebsite) << "could not load" << info.url().toString() << info.errorCode()
                             << info.errorString();
        WebBrowser1_StatusTextChange(QStringLiteral("Could not load: ") + info.errorString());
        break;
    default:
        WebBrowser1_StatusTextChange(QStringLiteral("Done"));
        break;
    }
    updateHistoryButtons();
}

void frmWebsite::WebBrowser1_DownloadComplete()
{
    Text1->setText(WebBrowser1->url().toString());
    // A page without a title keeps its address as the caption, so that the window always has a name.
    const QString title = WebBrowser1->title();
    setWindowTitle(title.isEmpty() ? Text1->text() : title);
    updateHistoryButtons();
}

void frmWebsite::updateHistoryButtons()
{
    Command4->setEnabled(WebBrowser1->history()->canGoBack());
    Command5->setEnabled(WebBrowser1->history()->canGoForward());
}

void frmWebsite::closeEvent(QCloseEvent *event)
{
    event->accept();
    Form_Unload();
}

void frmWebsite::Form_Unload()
{
    // The main window has already gone: this window is the program's last, and closing it ends it.
    if (!m_host.blnExitPending || !*m_host.blnExitPending)
        return;
    if (m_host.blnSkinEnabled)
        m_host.StopSkinEngine();
    m_host.EndProgram();
}
