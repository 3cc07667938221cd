// SPDX-License-Identifier: MIT
// The program's command line, run as a user runs it: each option, what it prints and how the
// program ends.

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString Program = QStringLiteral(RAVELIN_PATH);

// A user's environment without a display: the rows that reach the toolkit name their platform.
QProcessEnvironment withoutDisplay()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &name : {u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s, u"QT_QPA_PLATFORM"_s})
        environment.remove(name);
    return environment;
}

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void optionsWithoutDisplay_data();
    void optionsWithoutDisplay();
};

void TestCommandLine::optionsWithoutDisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    // Patterns that the whole of standard output and standard error must match.
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("error");

    const QString version = u"ravelin 2\\.1\\.0\\n"_s;
    const QString help = u"Usage: ravelin \\[options\\]\\n.*-h, --help .*-v, --version .*"_s;
    const QString tryHelp = u"\\nTry 'ravelin --help' for more information\\.\\n"_s;

    QTest::newRow("--version") << QStringList{u"--version"_s} << 0 << version << QString();
    QTest::newRow("-v") << QStringList{u"-v"_s} << 0 << version << QString();
    QTest::newRow("--help") << QStringList{u"--help"_s} << 0 << help << QString();
    QTest::newRow("-h") << QStringList{u"-h"_s} << 0 << help << QString();
    QTest::newRow("--help-all lists the toolkit's options too")
        << QStringList{u"--help-all"_s} << 0
        << help + u"--platform <name\\[:options\\]> .*--style <style> .*--display <display> .*"_s
        << QString();
    QTest::newRow("a toolkit option and its value are passed over")
        << QStringList{u"-style"_s, u"fusion"_s, u"-qwindowtitle"_s, u"Two words"_s, u"-v"_s} << 0
        << version << QString();
    QTest::newRow("a toolkit option with two dashes")
        << QStringList{u"--reverse"_s, u"--version"_s} << 0 << version << QString();
    QTest::newRow("unknown option") << QStringList{u"--verbose"_s} << 2 << QString()
                                    << u"ravelin: Unknown option 'verbose'\\."_s + tryHelp;
    QTest::newRow("unknown one-letter option")
        << QStringList{u"-x"_s} << 2 << QString() << u"ravelin: Unknown option 'x'\\."_s + tryHelp;
    QTest::newRow("an unknown option is refused before --help")
        << QStringList{u"--help"_s, u"--verbose"_s} << 2 << QString()
        << u"ravelin: Unknown option 'verbose'\\."_s + tryHelp;
    QTest::newRow("a toolkit option without its value")
        << QStringList{u"-platform"_s} << 2 << QString()
        << u"ravelin: Missing value after '-platform'\\."_s + tryHelp;
    QTest::newRow("stray argument")
        << QStringList{u"QVT-7460"_s} << 2 << QString()
        << u"ravelin: Unexpected argument 'QVT-7460': Ravelin takes no arguments\\."_s + tryHelp;
    QTest::newRow("an option after -- is an argument")
        << QStringList{u"--"_s, u"--help"_s} << 2 << QString()
        << u"ravelin: Unexpected argument '--help': Ravelin takes no arguments\\."_s + tryHelp;
    // The toolkit gets -platform: without it there is no display to start on. Its offscreen
    // platform has no -display, an X11 option, and leaves it.
    QTest::newRow("a toolkit option the platform does not take")
        << QStringList{u"-platform"_s, u"offscreen"_s, u"-display"_s, u":99"_s} << 2 << QString()
        << u"(.*\\n)?ravelin: The platform 'offscreen' does not take '-display'\\."_s + tryHelp;
}

void TestCommandLine::optionsWithoutDisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, output);
    QFETCH(QString, error);

    QProcess ravelin;
    ravelin.setProcessEnvironment(withoutDisplay());
    ravelin.start(Program, arguments);
    QVERIFY2(ravelin.waitForFinished(60000), qPrintable(ravelin.errorString()));
    const QString out = QString::fromLocal8Bit(ravelin.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(ravelin.readAllStandardError());
    const QString ran = u"\nstandard output:\n"_s + out + u"\nstandard error:\n"_s + err;
    QVERIFY2(ravelin.exitStatus() == QProcess::NormalExit, qPrintable(ran));
    QVERIFY2(ravelin.exitCode() == status, qPrintable(ran));
    const auto whole = [](const QString &pattern) {
        return QRegularExpression(QRegularExpression::anchoredPattern(pattern),
                                  QRegularExpression::DotMatchesEverythingOption);
    };
    QVERIFY2(whole(output).match(out).hasMatch(), qPrintable(ran));
    QVERIFY2(whole(error).match(err).hasMatch(), qPrintable(ran));
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
