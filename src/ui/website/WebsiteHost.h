#pragma once

#include <QFont>
#include <QString>
#include <functional>

class QLabel;
class QWidget;

/// What the browser window takes from the program. The window sits in a library of its own that links
/// Qt only, so the program's identity and its skin, on-top and exit procedures come in through here
/// instead of being linked twice (a second copy of the skin engine or of blnExitPending would be a
/// different object from the program's).
struct WebsiteHost {
    /// Raised whenever this struct changes, so that a library left over from another build declines.
    static constexpr int CurrentVersion = 1;
    int version = CurrentVersion;

    QString strWebsite; ///< what the window opens, as the identity holds it
    bool blnSkinEnabled = false;
    QFont designFont;                     ///< the windows' design face, regular
    const bool *blnExitPending = nullptr; ///< read when the window closes
    std::function<void(QWidget *window, bool onTop)> SetAlwaysOnTop;
    /// Places the invisible skin label template (element 0) in the container; sizes in twips.
    std::function<QLabel *(QWidget *container, int left, int top, int width, int height)> SkinLabelTemplate;
    /// The skin step: label substitution with the container test on the template's array, then the skin.
    std::function<void(QWidget *window, QLabel *skinTemplate)> SkinWindow;
    std::function<void()> StopSkinEngine;
    std::function<void()> EndProgram;
};

/// The one entry point of the browser window's library: creates the window and runs its load, which
/// shows it. Returns nullptr when the host is of another version.
using CreateWebsiteFunction = QWidget *(*)(const WebsiteHost *host);
inline constexpr char CreateWebsiteSymbol[] = "netquill_create_website";
/// The library's base name; the loader looks for it in the program's folder.
inline constexpr char WebsiteLibraryName[] = "netquill_website";
