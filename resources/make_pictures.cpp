// One-off generator of the program's pictures (not part of the build).
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

static void globe(QPainter &p, QRectF r, QColor line, qreal w)
{
    p.setPen(QPen(line, w));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(r);
    p.drawEllipse(QRectF(r.center().x() - r.width() / 4, r.top(), r.width() / 2, r.height()));
    p.drawLine(QPointF(r.center().x(), r.top()), QPointF(r.center().x(), r.bottom()));
    p.drawLine(QPointF(r.left(), r.center().y()), QPointF(r.right(), r.center().y()));
    qreal dy = r.height() * 0.25;
    p.drawLine(QPointF(r.left() + r.width() * 0.07, r.center().y() - dy),
               QPointF(r.right() - r.width() * 0.07, r.center().y() - dy));
    p.drawLine(QPointF(r.left() + r.width() * 0.07, r.center().y() + dy),
               QPointF(r.right() - r.width() * 0.07, r.center().y() + dy));
}

// The program's icon, drawn on a 32-pixel grid and scaled to the size asked for.
static QImage icon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    p.setBrush(QColor(31, 58, 96));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
    // Thin lines vanish when scaled down: at 16 pixels the globe keeps at least one pixel of line.
    globe(p, QRectF(5, 5, 22, 22), QColor(210, 190, 150), std::max(1.6, 32.0 / size));
    return image;
}

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QImage splash(476, 316, QImage::Format_RGB32);
    {
        QPainter p(&splash);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient g(0, 0, 0, 316);
        g.setColorAt(0, QColor(31, 58, 96));
        g.setColorAt(1, QColor(12, 24, 44));
        p.fillRect(splash.rect(), g);
        p.setOpacity(0.18);
        globe(p, QRectF(250, 20, 280, 280), QColor(210, 190, 150), 3);
        p.setOpacity(1);
        globe(p, QRectF(36, 46, 72, 72), QColor(210, 190, 150), 3);
        QFont f("DejaVu Sans", 40, QFont::Bold);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(QRectF(124, 40, 340, 80), Qt::AlignLeft | Qt::AlignVCenter, "Netquill");
        QFont s("DejaVu Sans", 13);
        p.setFont(s);
        p.setPen(QColor(210, 190, 150));
        p.drawText(QRectF(40, 150, 400, 30), Qt::AlignLeft, "Your internal and external IP, watched.");
        p.setPen(QColor(200, 210, 225));
        QFont t("DejaVu Sans", 10);
        p.setFont(t);
        p.drawText(QRectF(40, 270, 400, 24), Qt::AlignLeft, "Velmora  \u00b7  version 2.0");
        p.setPen(QPen(QColor(210, 190, 150), 2));
        p.drawLine(40, 190, 436, 190);
    }
    splash.save(argv[1] + QString("/splash.png"));

    icon(32).save(argv[1] + QString("/icons/netquill.png"));
    // The desktop's icon theme: the same drawing at the sizes menus and launchers ask for.
    QDir(argv[1]).mkpath("icons/hicolor");
    for (int size : {16, 32, 48, 64, 128, 256})
        icon(size).save(argv[1] + QString("/icons/hicolor/%1.png").arg(size));

    QImage copy(16, 16, QImage::Format_ARGB32);
    copy.fill(Qt::transparent);
    {
        QPainter p(&copy);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(40, 40, 40), 1.2));
        p.setBrush(QColor(235, 235, 235));
        p.drawRect(QRectF(5.5, 1.5, 8, 10));
        p.drawRect(QRectF(2.5, 4.5, 8, 10));
    }
    copy.save(argv[1] + QString("/icons/copy.png"));

    // The about box's header: 501 x 69, across the top of the box.
    QImage header(501, 69, QImage::Format_RGB32);
    {
        QPainter p(&header);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient g(0, 0, 501, 0);
        g.setColorAt(0, QColor(31, 58, 96));
        g.setColorAt(1, QColor(12, 24, 44));
        p.fillRect(header.rect(), g);
        p.setOpacity(0.18);
        globe(p, QRectF(390, -40, 150, 150), QColor(210, 190, 150), 2);
        p.setOpacity(1);
        globe(p, QRectF(14, 12, 45, 45), QColor(210, 190, 150), 2);
        p.setFont(QFont("DejaVu Sans", 22, QFont::Bold));
        p.setPen(Qt::white);
        p.drawText(QRectF(72, 6, 300, 40), Qt::AlignLeft | Qt::AlignVCenter, "Netquill");
        p.setFont(QFont("DejaVu Sans", 9));
        p.setPen(QColor(210, 190, 150));
        p.drawText(QRectF(74, 42, 360, 20), Qt::AlignLeft, "Your internal and external IP, watched.");
    }
    header.save(argv[1] + QString("/header.jpg"), "JPEG", 90);
    return 0;
}
