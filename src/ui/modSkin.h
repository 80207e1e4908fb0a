#pragma once

class QWidget;
class Skin;
class SkinEngine;

namespace modSkin {
/// The skin every window takes; set once at start-up from the splash window's skin control.
void SetCurrentSkin(Skin *skin);
Skin *CurrentSkin();
/// Colours the window's standard controls from the current skin and applies the skin to the window.
void SkinForm(QWidget *window);
/// The program's one skin engine, created on first use.
SkinEngine *Engine();
} // namespace modSkin
