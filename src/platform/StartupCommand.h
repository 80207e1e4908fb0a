#pragma once

#include <QString>

/// The command that starts this program at log-on.
namespace StartupCommand {

/// The command on the PATH when programFile is the installed program, found as the installed layout
/// places it (binFolder, relative to the program's folder, holds a link of the program's name that
/// leads to programFile); otherwise programFile itself, as a program run from its build folder is.
QString For(const QString &programFile, const QString &binFolder);

/// For() with this program's file and the layout it was built for.
QString ForThisProgram();

} // namespace StartupCommand
