#pragma once

#include "WebsiteHost.h"

#include <QString>

class QWidget;

/// Opens the browser window from its own library, so that the web engine is mapped only once the user
/// asks for the website.
namespace WebsiteModule {
/// Set when the main window closes while the web browser window is still shown; closing that
/// window then ends the program.
inline bool blnExitPending = false;

/// This program's identity, skin, on-top and exit procedures as the browser window takes them.
/// EndProgram is left for the caller, who owns the program's end.
WebsiteHost Host();
/// Loads the library from folder and creates the window (loaded and shown). nullptr where the library,
/// or the web engine it needs, is missing.
QWidget *Create(const QString &folder, const WebsiteHost &host);
} // namespace WebsiteModule
