// SPDX-License-Identifier: MIT
#include "commandline.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

using namespace Qt::StringLiterals;

namespace ravelin {

namespace {

// The toolkit's own options, as Qt 6 takes them from the command line (QGuiApplication,
// QApplication and the X11 platform). They are read here only to be passed over; the
// toolkit applies them.
struct ToolkitOption
{
    const char *name;
    const char *value; // nullptr: the option takes no value
    const char *description;
};

constexpr ToolkitOption ToolkitOptions[] = {
    {"platform", "name[:options]", "The platform plugin: xcb, wayland, offscreen and so on."},
    {"platformpluginpath", "path", "Where to look for platform plugins."},
    {"platformtheme", "name", "The platform theme."},
    {"plugin", "name", "Loads an input plugin."},
    {"qwindowgeometry", "geometry", "The window's size and place, as WxH+X+Y."},
    {"qwindowicon", "file", "The window's icon."},
    {"qwindowtitle", "title", "The window's title."},
    {"session", "id", "Restores an earlier session."},
    {"style", "style", "The widget style (Ravelin keeps its own look)."},
    {"stylesheet", "file", "A style sheet for the widgets."},
    {"reverse", nullptr, "Lays the window out from right to left."},
    {"widgetcount", nullptr, "Reports at the end the widgets left undestroyed."},
    {"testability", nullptr, "Loads the testability plugin."},
    {"qmljsdebugger", "port:PORT[,block]", "QML debugging, given as -qmljsdebugger=..."},
    {"display", "display", "X11: the X server to use."},
    {"geometry", "geometry", "X11: the same as -qwindowgeometry."},
    {"title", "title", "X11: the same as -qwindowtitle."},
    {"icon", "file", "X11: the same as -qwindowicon."},
    {"name", "name", "X11: the resource name of the window."},
    {"visual", "visual", "X11: the visual to use."},
    {"nograb", nullptr, "X11: never grabs the mouse or keyboard."},
    {"dograb", nullptr, "X11: grabs them even under a debugger."},
};

const QString Name = u"ravelin"_s;
const QString TryHelp = u"Try 'ravelin --help' for more information.\n"_s;

// Ravelin's options, and the toolkit's, listed in the help only when listed says so. The
// toolkit's options are written with one dash, as its documentation writes them; two are taken
// too.
void defineOptions(QCommandLineParser &parser, bool listToolkitOptions)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        u"Shows the real-time status of QVT-7400 series receipt printers in a window.\n"
        "Ravelin takes no arguments; the toolkit's own options, which --help-all lists, "
        "are passed to it."_s);
    parser.addHelpOption();
    parser.addVersionOption();
    for (const ToolkitOption &option : ToolkitOptions) {
        QCommandLineOption definition(QString::fromLatin1(option.name),
                                      QString::fromLatin1(option.description),
                                      option.value ? QString::fromLatin1(option.value) : QString());
        if (!listToolkitOptions)
            definition.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(definition);
    }
}

// The parser's help, under a usage line that names the program as its users call it.
QString helpText(bool listToolkitOptions)
{
    QCommandLineParser parser;
    defineOptions(parser, listToolkitOptions);
    const QString text = parser.helpText();
    return u"Usage: ravelin [options]"_s + text.mid(text.indexOf(u'\n'));
}

CommandLineAnswer refuse(const QString &why)
{
    return {false, UsageExitStatus, QString(), Name + u": "_s + why + u'\n' + TryHelp};
}

} // namespace

CommandLineAnswer readCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    defineOptions(parser, false);
    if (!parser.parse(arguments.isEmpty() ? QStringList{Name} : arguments))
        return refuse(parser.errorText());
    if (parser.isSet(u"help"_s))
        return {false, 0, helpText(false), QString()};
    if (parser.isSet(u"help-all"_s))
        return {false, 0, helpText(true), QString()};
    if (parser.isSet(u"version"_s))
        return {false, 0, Name + u' ' + QStringLiteral(RAVELIN_VERSION) + u'\n', QString()};
    if (const QStringList stray = parser.positionalArguments(); !stray.isEmpty())
        return refuse(
            u"Unexpected argument '%1': Ravelin takes no arguments."_s.arg(stray.first()));
    return {};
}

CommandLineAnswer checkArgumentsLeft(const QStringList &arguments, const QString &platform)
{
    for (const QString &argument : arguments.mid(1)) {
        // The end of the options, which readCommandLine() allowed when nothing follows it.
        if (argument == u"--"_s)
            continue;
        return refuse(u"The platform '%1' does not take '%2'."_s.arg(platform, argument));
    }
    return {};
}

} // namespace ravelin
