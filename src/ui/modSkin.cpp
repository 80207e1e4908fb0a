#include "modSkin.h"

#include "Skin.h"
#include "SkinEngine.h"

#include <QCoreApplication>

#include <QPointer>

namespace {
QPointer<Skin> g_currentSkin;
}

void modSkin::SetCurrentSkin(Skin *skin) { g_currentSkin = skin; }

Skin *modSkin::CurrentSkin() { return g_currentSkin; }

void modSkin::SkinForm(QWidget *window)
{
    if (g_currentSkin)
        g_currentSkin->ApplySkin(window);
}

SkinEngine *modSkin::Engine()
{
    static QPointer<SkinEngine> engine;
    if (!engine)
        engine = new SkinEngine(QCoreApplication::instance());
    return engine;
}
