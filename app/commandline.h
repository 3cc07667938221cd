// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

namespace ravelin {

// What the command line asks of the program. Ravelin takes --help, --help-all and --version of its
// own, no arguments, and the toolkit's options (-platform, -style, -display and so on), which it
// leaves to the toolkit.
struct CommandLineAnswer
{
    // Open the window; otherwise end at once with the status, having written the texts.
    bool openWindow = true;
    int exitStatus = 0;
    QString standardOutput;
    QString standardError;
};

// The status of a command line the program does not take, as for other command line tools.
inline constexpr int UsageExitStatus = 2;

// Reads the command line as main() got it, the program's name first, before any application
// object exists: --help and --version are answered without a display, and a command line that
// is wrong is refused before one is opened.
CommandLineAnswer readCommandLine(const QStringList &arguments);

// The arguments the toolkit left once it took its own options, the program's name first: any
// left is an option of the toolkit's that the platform in use does not take (an X11 option
// elsewhere), or given in a form the toolkit does not read.
CommandLineAnswer checkArgumentsLeft(const QStringList &arguments, const QString &platform);

} // namespace ravelin
