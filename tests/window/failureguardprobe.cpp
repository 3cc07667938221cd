// SPDX-License-Identifier: MIT
// Runs one query through the failure guard inside an event loop, as the window does, and prints
// each message box it is asked to show. The test that starts it reads the output and exit status.
//
//   failure_guard_probe lm|printer LIBRARY...

#include "failureguard.h"
#include "fakes.h"
#include "statuslibrary.h"
#include "statusquery.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    if (arguments.size() < 2)
        return 64;
    FixedChoice choice;
    choice.use = arguments.takeFirst() == u"printer"_s ? 1 : 0;
    choice.name = u"QVT-Probe"_s;

    PrintingMessageBox messages;
    RecordingIndicators indicators;
    ravelin::SystemClock clock;
    ravelin::StatusLibrary library(arguments);
    ravelin::StatusQuery query(indicators, choice, messages, library, clock, QLocale::c());
    ravelin::FailureGuard guard(messages);

    // A second query and a quit are due in the same pass of the event loop: neither may run
    // once the first has ended the program, nor change its exit status.
    const auto handler = [&] {
        guard.run([&] {
            std::printf("line %s\n", qPrintable(query.RetreivePrinterStatus()));
            std::fflush(stdout);
        });
    };
    QTimer::singleShot(0, &app, handler);
    QTimer::singleShot(0, &app, handler);
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    return app.exec();
}
