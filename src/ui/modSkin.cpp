#include "modSkin.h"

#include "Skin.h"
#include "SkinEngine.h"

#include <QCoreApplication>
#include <QFontDatabase>

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

QFont modSkin::DesignFont(qreal pointSize)
{
    const QString family = QFontDatabase::hasFamily(QStringLiteral("Verdana")) ? QStringLiteral("Verdana")
                                                                                 : QStringLiteral("DejaVu Sans");
    QFont font(family);
    font.setPointSizeF(pointSize);
    font.setBold(false); // stated, so that a child of a bold parent does not inherit its weight
    return font;
}

void modSkin::runGuarded(const std::function<void()> &step)
{
    try {
        step();
    } catch (...) {
    }
}
