// SPDX-License-Identifier: MIT
// Opens the window as the program does, over a fixed printer list and the given status library,
// performs one command once the event loop runs, and returns what the event loop returns. Each
// message box it is asked to show is printed instead.
//
//   form1_probe exit-button|exit-menu|close|query LIBRARY...

#include "applicationlook.h"
#include "fakes.h"
#include "form1.h"
#include "statuslibrary.h"

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    ravelin::setUpApplication();
    QStringList arguments = app.arguments().mid(1);
    if (arguments.isEmpty())
        return 64;
    const QString command = arguments.takeFirst();

    const FixedPrinters printers({u"QVT-Probe"_s});
    ravelin::StatusLibrary library(arguments);
    PrintingMessageBox messages;
    const ravelin::SystemClock clock;
    ravelin::Form1 window(printers, library, messages, clock, QLocale::c());
    window.Form_Load();
    window.show();

    QTimer::singleShot(0, &window, [&] {
        if (command == u"exit-button"_s)
            window.findChild<QPushButton *>(u"cmdExit"_s)->click();
        else if (command == u"exit-menu"_s)
            window.findChild<QAction *>(u"mnuFileExit"_s)->trigger();
        else if (command == u"close"_s)
            window.close();
        else if (command == u"query"_s)
            window.findChild<QPushButton *>(u"cmdRetreivePrinterStatus"_s)->click();
        else
            QCoreApplication::exit(64);
    });
    const int status = QApplication::exec();
    std::printf("event loop returned %d\n", status);
    return status;
}
