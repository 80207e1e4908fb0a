#pragma once

#include <QLabel>

/// A box that shows a picture; the skin gives it the panel colour.
class PictureBox : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
};
