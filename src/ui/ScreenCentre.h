#pragma once

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace ScreenCentre {
/// Moves the window so that its frame sits in the middle of its screen's free area; without a
/// window manager to place it, a new window would open at the corner.
inline void place(QWidget *window)
{
    const QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (screen)
        window->move(screen->availableGeometry().center() - window->frameGeometry().center() + window->pos());
}
} // namespace ScreenCentre
