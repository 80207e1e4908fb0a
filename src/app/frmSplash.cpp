#include "frmSplash.h"

#include "Form1.h"
#include "ScreenCentre.h"
#include "Skin.h"
#include "SkinEngine.h"
#include "Twips.h"
#include "WebsiteModule.h"
#include "modIdentity.h"
#include "modSkin.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QTimer>

frmSplash::frmSplash(AddressMonitor &monitor, SettingsStore &store, QWidget *parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint), Image1(new QLabel(this)),
      Timer2(new QTimer(this)), skn(new Skin(QStringLiteral(":/skins/standard.skin"), this)),
      m_monitor(monitor), m_store(store)
{
    // The main window's first text would read the font configuration and list every font, tens of
    // milliseconds; the splash shows a picture only, so that is done beside its wait instead.
    m_fonts = std::async(std::launch::async, [] { QFontDatabase::families(); });
    setFixedSize(Twips::toPixels(7170), Twips::toPixels(4770));
    Twips::place(Image1, 0, 0, 7170, 4770);
    // Not through QPixmap's file loader, which keeps a copy in the pixmap cache after the splash
    // has dropped its own.
    Image1->setPixmap(QPixmap::fromImage(QImage(QStringLiteral(":/splash.png"))));
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Timer2->setInterval(2);
    connect(Timer2, &QTimer::timeout, this, &frmSplash::Timer2_Timer);
    ScreenCentre::place(this);
}

frmSplash::~frmSplash()
{
    delete m_main;
}

Form1 *frmSplash::mainWindow() const
{
    return m_main;
}

void frmSplash::Form_Load()
{
    WebsiteModule::blnExitPending = false;
    modIdentity::LoadProductIdentity();
    if (modIdentity::Identity().blnSkinEnabled) {
        modSkin::SetCurrentSkin(skn);
        modSkin::SkinForm(this);
        modSkin::Engine()->SetSkin(skn->Object());
        modSkin::Engine()->Start();
    }
    Timer2->start();
}

void frmSplash::Timer2_Timer()
{
    if (intTemp >= 150)
        return;
    intTemp += 2;
    if (intTemp != 150)
        return;
    // Stopped first, so no later tick can load the main window a second time.
    Timer2->stop();
    m_main = new Form1(m_monitor, m_store);
    m_main->setSplash(this);
    m_main->Form_Load();
    m_main->show();
    hide();
    // Never shown again: its picture and its native window with the window buffer are released.
    // The object stays, as it hosts the skin.
    Image1->clear();
    destroy();
    emit mainWindowShown(m_main);
}
