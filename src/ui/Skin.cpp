#include "Skin.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPalette>
#include <QWidget>

Skin::Skin(const QString &dataFile, QObject *parent) : QObject(parent)
{
    QFile file(dataFile);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QJsonObject data = QJsonDocument::fromJson(file.readAll()).object();
    const QJsonArray colors = data.value(QStringLiteral("colors")).toArray();
    if (colors.size() != 4)
        return;
    for (int i = 0; i < 4; ++i) {
        const QColor c(colors.at(i).toString());
        if (!c.isValid())
            return;
    }
    for (int i = 0; i < 4; ++i) {
        const QColor c(colors.at(i).toString());
        m_colors[i] = quint32(c.red()) | quint32(c.green()) << 8 | quint32(c.blue()) << 16;
    }
    m_title = data.value(QStringLiteral("title")).toString(m_title);
}

QColor Skin::toColor(quint32 value)
{
    return QColor(int(value & 0xFF), int(value >> 8 & 0xFF), int(value >> 16 & 0xFF));
}

void Skin::ApplySkin(QWidget *window) const
{
    if (!window)
        return;
    const QColor panel = toColor(PanelColor()), panelText = toColor(PanelTextColor());
    const QColor background = toColor(BackgroundColor()), text = toColor(TextColor());
    const QPalette::ColorRole roles[] = {QPalette::Window, QPalette::WindowText, QPalette::Base,
                                         QPalette::Text,   QPalette::Button,     QPalette::ButtonText};
    const QColor enabled[] = {panel, panelText, background, text, background, text};
    // Disabled text is drawn halfway to its background, so that a control that cannot be used
    // looks it.
    const auto dimmed = [](const QColor &fore, const QColor &back) {
        return QColor((fore.red() + back.red()) / 2, (fore.green() + back.green()) / 2,
                      (fore.blue() + back.blue()) / 2);
    };
    const QColor disabled[] = {panel,      dimmed(panelText, panel), background, dimmed(text, background),
                               background, dimmed(text, background)};
    QPalette palette = window->palette();
    for (int i = 0; i < 6; ++i) {
        palette.setColor(QPalette::Active, roles[i], enabled[i]);
        palette.setColor(QPalette::Inactive, roles[i], enabled[i]);
        palette.setColor(QPalette::Disabled, roles[i], disabled[i]);
    }
    window->setPalette(palette);
    window->setAutoFillBackground(true);
}
