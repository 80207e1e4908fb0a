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
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, toColor(PanelColor()));
    palette.setColor(QPalette::WindowText, toColor(PanelTextColor()));
    palette.setColor(QPalette::Base, toColor(BackgroundColor()));
    palette.setColor(QPalette::Text, toColor(TextColor()));
    palette.setColor(QPalette::Button, toColor(BackgroundColor()));
    palette.setColor(QPalette::ButtonText, toColor(TextColor()));
    window->setPalette(palette);
    window->setAutoFillBackground(true);
}
