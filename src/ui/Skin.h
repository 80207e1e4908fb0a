#pragma once

#include <QColor>
#include <QObject>
#include <QString>

class QWidget;

/// The skin control: the design data of one skin (title and four colours) and applying it to a window.
class Skin : public QObject {
    Q_OBJECT
public:
    /// Loads the skin data from a resource file; falls back to "Standard Skin" when it cannot be read.
    explicit Skin(const QString &dataFile = QStringLiteral(":/skins/standard.skin"),
                  QObject *parent = nullptr);

    QString Title() const { return m_title; }
    // Colours as 32-bit values: red in the low byte, then green, then blue.
    quint32 BackgroundColor() const { return m_colors[0]; }
    quint32 TextColor() const { return m_colors[1]; }
    quint32 PanelColor() const { return m_colors[2]; }
    quint32 PanelTextColor() const { return m_colors[3]; }

    /// Restyles the window and its skin-aware children.
    void ApplySkin(QWidget *window) const;

    /// The object handed to the skin engine.
    QObject *Object() { return this; }

    static QColor toColor(quint32 value);

private:
    QString m_title = QStringLiteral("Standard Skin");
    quint32 m_colors[4] = {0xFFFFFF, 0x000000, 0x96BED2, 0x000000};
};
