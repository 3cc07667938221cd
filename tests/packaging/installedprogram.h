// SPDX-License-Identifier: MIT
#pragma once

// Checks of an installed Ravelin from outside: running the tools that inspect its files, and
// starting the installed program the way a person does, under an X server of its own (Xvfb),
// pressing its buttons with xdotool and watching which status library it loads. The program
// inherits the test's environment, so that its printer list and the stand-in ask the private
// CUPS scheduler CTest starts for the test (tests/privatecups/), never the machine's own.

#include "form1design.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <optional>
#include <string_view>
#include <utility>

namespace installedprogram {

using namespace Qt::StringLiterals;

// CTest reports a test program that returns this as skipped (SKIP_RETURN_CODE), so that a
// check whose tool is missing is never counted as passed.
inline constexpr int SkippedExitCode = 77;

// Skips the current test when one of the tools is not installed, and notes that in *skipped.
#define SKIP_UNLESS_INSTALLED(skipped, ...)                                                        \
    do {                                                                                           \
        for (const QString &tool : QStringList{__VA_ARGS__}) {                                     \
            if (QStandardPaths::findExecutable(tool).isEmpty()) {                                  \
                *(skipped) = true;                                                                 \
                QSKIP(qPrintable(tool + u" is not installed (scripts/setup installs it)"_s));      \
            }                                                                                      \
        }                                                                                          \
    } while (false)

struct ToolResult
{
    bool ran = false; // started and ended by itself within the time allowed
    int exitCode = -1;
    QByteArray output; // standard output, and standard error unless the tool ran with
                       // SeparateChannels
    QString failure;   // why it did not run, or how it ended, for a test's message

    bool succeeded() const { return ran && exitCode == 0; }
};

// Runs the tool with this process's environment, or with environment when one is given. With
// SeparateChannels, the output is standard output alone, and standard error only goes into the
// failure message.
inline ToolResult runTool(const QString &program, const QStringList &arguments,
                          int timeoutMs = 120000,
                          const QProcessEnvironment &environment = QProcessEnvironment(),
                          QProcess::ProcessChannelMode channels = QProcess::MergedChannels)
{
    ToolResult result;
    QProcess process;
    if (!environment.isEmpty())
        process.setProcessEnvironment(environment);
    process.setProcessChannelMode(channels);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        result.failure = u"%1 did not finish: %2"_s.arg(program, process.errorString());
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.output = process.readAllStandardOutput();
    const QByteArray errors = process.readAllStandardError();
    if (process.exitStatus() != QProcess::NormalExit) {
        result.failure = u"%1 crashed"_s.arg(program);
        return result;
    }
    result.ran = true;
    result.exitCode = process.exitCode();
    result.failure = u"%1 %2 exited with %3:\n%4"_s.arg(
        program, arguments.join(u' '), QString::number(result.exitCode),
        QString::fromLocal8Bit(result.output + errors));
    return result;
}

// text as a POSIX extended regular expression, the kind xdotool takes, that matches exactly it.
inline QString exactly(const QString &text)
{
    QString pattern = u"^"_s;
    for (const QChar c : text) {
        if (u".[]()*+?{}|^$\\"_s.contains(c))
            pattern += u'\\';
        pattern += c;
    }
    return pattern + u'$';
}

// The files a running process has mapped, from /proc/<pid>/maps, as the kernel names them
// (symbolic links resolved).
inline QStringList mappedFiles(qint64 pid)
{
    QFile maps(u"/proc/%1/maps"_s.arg(pid));
    if (!maps.open(QIODevice::ReadOnly))
        return {};
    QStringList files;
    for (const QByteArray &line : maps.readAll().split('\n')) {
        const qsizetype slash = line.indexOf('/');
        if (slash < 0)
            continue;
        const QString file = QString::fromLocal8Bit(line.mid(slash));
        if (!files.contains(file))
            files << file;
    }
    return files;
}

// An X server of our own on a display number it picks itself, stopped when this goes.
class XServer
{
public:
    XServer() = default;
    XServer(const XServer &) = delete;
    XServer &operator=(const XServer &) = delete;
    ~XServer()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(10000)) {
                m_process.kill();
                m_process.waitForFinished();
            }
        }
    }

    // Starts the server and waits until it accepts clients: -displayfd writes the display
    // number only then.
    bool start(QString *failure)
    {
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start(u"Xvfb"_s, {u"-displayfd"_s, u"1"_s, u"-nolisten"_s, u"tcp"_s, u"-screen"_s,
                                    u"0"_s, u"1280x1024x24"_s});
        QByteArray number;
        while (!number.endsWith('\n') && m_process.waitForReadyRead(30000))
            number += m_process.readAllStandardOutput();
        number = number.trimmed();
        if (number.isEmpty()) {
            *failure = u"Xvfb did not start: %1\n%2"_s.arg(
                m_process.errorString(), QString::fromLocal8Bit(m_process.readAllStandardError()));
            return false;
        }
        m_display = u":"_s + QString::fromLatin1(number);
        return true;
    }

    // This process's environment, pointed at the server.
    QProcessEnvironment environment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"DISPLAY"_s, m_display);
        return environment;
    }

    ToolResult xdotool(const QStringList &arguments, int timeoutMs = 60000) const
    {
        return runTool(u"xdotool"_s, arguments, timeoutMs, environment());
    }

private:
    QProcess m_process;
    QString m_display;
};

// A sanitized build of the program (the second build of the test command) meets, on a real X
// server, libraries that the offscreen tests never load, with faults of their own:
// libxkbcommon-x11 hands strndup a string that ends without a NUL, which ASan's
// strict_string_checks reports, and libdbus leaks a read buffer when no session bus runs. The
// program gets the test's own sanitizer options, with suppressions for exactly those added to
// any suppressions file they name, written into dir.
inline bool addSanitizerSuppressions(QProcessEnvironment &environment, const QString &dir,
                                     QString *failure)
{
    const std::pair<QString, QByteArray> added[] = {
        {u"ASAN_OPTIONS"_s, "interceptor_via_lib:libxkbcommon-x11.so\n"},
        {u"LSAN_OPTIONS"_s, "leak:libdbus-1.so\n"},
    };
    for (const auto &[variable, ours] : added) {
        QByteArray suppressions = ours;
        QStringList options;
        for (const QString &option : environment.value(variable).split(u':', Qt::SkipEmptyParts)) {
            if (!option.startsWith(u"suppressions="_s)) {
                options << option;
                continue;
            }
            QFile given(option.mid(option.indexOf(u'=') + 1));
            if (!given.open(QIODevice::ReadOnly)) {
                *failure =
                    u"%1 names %2: %3"_s.arg(variable, given.fileName(), given.errorString());
                return false;
            }
            suppressions += given.readAll() + '\n';
        }
        QFile file(dir + u'/' + variable + u".supp"_s);
        if (!file.open(QIODevice::WriteOnly) || file.write(suppressions) != suppressions.size()) {
            *failure = file.fileName() + u": "_s + file.errorString();
            return false;
        }
        options << u"suppressions="_s + file.fileName();
        environment.insert(variable, options.join(u':'));
    }
    return true;
}

// Where a control of the main window sits, in pixels from the window's top left corner. The
// window is its menu bar above a client area of the design's size, nothing around it (no
// window manager runs), so the client area is the bottom of the window. Only controls placed
// directly on the window, not inside a frame, are looked up.
constexpr const ravelin::ControlDesign &designOf(std::string_view name)
{
    for (const ravelin::ControlDesign &control : ravelin::Form1Design) {
        if (name == control.name)
            return control;
    }
    throw "no control of that name in the window's design";
}

struct WindowGeometry
{
    QString id;
    int x = 0, y = 0, width = 0, height = 0;
};

inline bool clickControl(const XServer &server, const WindowGeometry &window,
                         const ravelin::ControlDesign &control, QString *failure)
{
    using ravelin::pixelsFromTwips;
    // High-DPI scaling scales the whole window alike.
    const double scale = double(window.width) / pixelsFromTwips(ravelin::Form1ClientWidth);
    const double clientTop = window.height - scale * pixelsFromTwips(ravelin::Form1ClientHeight);
    const int x = window.x + int(scale * pixelsFromTwips(control.left + control.width / 2));
    const int y =
        window.y + int(clientTop + scale * pixelsFromTwips(control.top + control.height / 2));
    const ToolResult click = server.xdotool(
        {u"mousemove"_s, u"--sync"_s, QString::number(x), QString::number(y), u"click"_s, u"1"_s});
    if (!click.succeeded())
        *failure = click.failure;
    return click.succeeded();
}

// The desktop entry's value for key, or nothing.
inline std::optional<QString> desktopEntryValue(const QString &desktopFile, const QString &key)
{
    QFile file(desktopFile);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals > 0 && QString::fromUtf8(line.left(equals)).trimmed() == key)
            return QString::fromUtf8(line.mid(equals + 1)).trimmed();
    }
    return std::nullopt;
}

// Starts the installed program under a new X server, waits for its window, whose class must be
// the desktop entry's StartupWMClass so that the desktop ties the window to the entry, presses
// "Retreive Printer Status" and checks that the program has loaded exactly the status library
// expected; then presses Exit and checks that the program ends normally.
inline void verifyFindsItsStatusLibrary(const QString &program, const QString &expectedLibrary,
                                        const QString &desktopFile)
{
    QVERIFY2(QFileInfo(program).isExecutable(), qPrintable(program + u" is not installed"_s));
    QVERIFY2(QFileInfo::exists(expectedLibrary),
             qPrintable(expectedLibrary + u" is not installed"_s));
    const QString library = QFileInfo(expectedLibrary).canonicalFilePath();
    const std::optional<QString> windowClass = desktopEntryValue(desktopFile, u"StartupWMClass"_s);
    QVERIFY2(windowClass, qPrintable(desktopFile + u" names no StartupWMClass"_s));

    XServer server;
    QString failure;
    QVERIFY2(server.start(&failure), qPrintable(failure));

    QTemporaryDir suppressions;
    QVERIFY2(suppressions.isValid(), qPrintable(suppressions.errorString()));
    QProcessEnvironment environment = server.environment();
    QVERIFY2(addSanitizerSuppressions(environment, suppressions.path(), &failure),
             qPrintable(failure));
    environment.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
    // Only the loader's standard search, as on a user's machine.
    environment.remove(u"LD_LIBRARY_PATH"_s);

    QProcess ravelin;
    ravelin.setProcessEnvironment(environment);
    ravelin.setProcessChannelMode(QProcess::MergedChannels);
    ravelin.start(program, {});
    QVERIFY2(ravelin.waitForStarted(), qPrintable(ravelin.errorString()));
    const auto stopRavelin = qScopeGuard([&ravelin] {
        if (ravelin.state() != QProcess::NotRunning) {
            ravelin.kill();
            ravelin.waitForFinished();
        }
    });
    QByteArray output;
    const auto programOutput = [&ravelin, &output] {
        output += ravelin.readAll();
        return u"\nThe program's output:\n"_s + QString::fromLocal8Bit(output);
    };
    const QString pid = QString::number(ravelin.processId());

    // Its main window, once mapped: xdotool waits for it, unless the program ends first.
    QProcess search;
    search.setProcessEnvironment(server.environment());
    search.start(u"xdotool"_s,
                 {u"search"_s, u"--sync"_s, u"--onlyvisible"_s, u"--all"_s, u"--pid"_s, pid,
                  u"--name"_s, exactly(QString::fromUtf16(ravelin::Form1Caption))});
    const auto stopSearch = qScopeGuard([&search] {
        if (search.state() != QProcess::NotRunning) {
            search.kill();
            search.waitForFinished();
        }
    });
    QTRY_VERIFY_WITH_TIMEOUT(
        search.state() == QProcess::NotRunning || ravelin.state() == QProcess::NotRunning, 60000);
    QVERIFY2(ravelin.state() == QProcess::Running,
             qPrintable(u"The program ended before its window showed"_s + programOutput()));
    QVERIFY2(search.exitStatus() == QProcess::NormalExit && search.exitCode() == 0,
             qPrintable(u"xdotool found no window: "_s +
                        QString::fromLocal8Bit(search.readAllStandardError())));
    WindowGeometry window;
    window.id = QString::fromLatin1(search.readAllStandardOutput().split('\n').value(0).trimmed());

    const ToolResult ofClass = server.xdotool(
        {u"search"_s, u"--all"_s, u"--pid"_s, pid, u"--class"_s, exactly(*windowClass)});
    QVERIFY2(ofClass.succeeded() && ofClass.output.split('\n').contains(window.id.toLatin1()),
             qPrintable(u"The window's class is not %1, the desktop entry's StartupWMClass"_s.arg(
                 *windowClass)));

    const ToolResult geometry = server.xdotool({u"getwindowgeometry"_s, u"--shell"_s, window.id});
    QVERIFY2(geometry.succeeded(), qPrintable(geometry.failure));
    for (const QByteArray &line : geometry.output.split('\n')) {
        const QList<QByteArray> pair = line.split('=');
        if (pair.size() != 2)
            continue;
        const int value = pair[1].toInt();
        if (pair[0] == "X")
            window.x = value;
        else if (pair[0] == "Y")
            window.y = value;
        else if (pair[0] == "WIDTH")
            window.width = value;
        else if (pair[0] == "HEIGHT")
            window.height = value;
    }
    QVERIFY2(window.width > 0 && window.height > 0,
             qPrintable(u"No window geometry in: "_s + QString::fromLatin1(geometry.output)));

    static_assert(designOf("cmdRetreivePrinterStatus").container == nullptr &&
                      designOf("cmdExit").container == nullptr,
                  "the buttons must sit on the window itself for the clicks to find them");
    QVERIFY2(clickControl(server, window, designOf("cmdRetreivePrinterStatus"), &failure),
             qPrintable(failure));

    // The first query loads the library.
    const auto loadedLibraries = [&ravelin] {
        QStringList found;
        for (const QString &file : mappedFiles(ravelin.processId())) {
            if (QFileInfo(file).fileName() == u"libQVLMSTAT.so")
                found << file;
        }
        return found;
    };
    QTRY_VERIFY2_WITH_TIMEOUT(
        !loadedLibraries().isEmpty() || ravelin.state() == QProcess::NotRunning,
        qPrintable(u"The program loaded no status library after the click"_s + programOutput()),
        60000);
    QVERIFY2(ravelin.state() == QProcess::Running,
             qPrintable(u"The program ended at the first query"_s + programOutput()));
    QCOMPARE(loadedLibraries(), QStringList{library});

    QVERIFY2(clickControl(server, window, designOf("cmdExit"), &failure), qPrintable(failure));
    QVERIFY2(ravelin.waitForFinished(60000),
             qPrintable(u"The program did not end on Exit"_s + programOutput()));
    QVERIFY2(ravelin.exitStatus() == QProcess::NormalExit && ravelin.exitCode() == 0,
             qPrintable(u"The program ended with status %1"_s.arg(ravelin.exitCode()) +
                        programOutput()));
}

} // namespace installedprogram
