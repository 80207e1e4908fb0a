#pragma once

#include <QLabel>

/// A label drawn in the skin's style. It always shows its caption as plain text.
class SkinLabel : public QLabel {
    Q_OBJECT
public:
    explicit SkinLabel(const QString &caption = {}, QWidget *parent = nullptr) : QLabel(caption, parent)
    {
        setTextFormat(Qt::PlainText);
    }
    QString Caption() const { return text(); }
};
