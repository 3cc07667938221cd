// SPDX-License-Identifier: MIT
// Ravelin: shows the real-time status of the receipt printers of the QVT-7400 series.

#include "applicationlook.h"
#include "commandline.h"
#include "cupsprinters.h"
#include "form1.h"
#include "modalmessagebox.h"
#include "statuslibrary.h"
#include "statusword.h"

#include <QApplication>
#include <QLocale>

#include <cstdio>

namespace {

// Writes the answer's texts and gives its status.
int end(const ravelin::CommandLineAnswer &answer)
{
    std::fputs(answer.standardOutput.toLocal8Bit().constData(), stdout);
    std::fputs(answer.standardError.toLocal8Bit().constData(), stderr);
    return answer.exitStatus;
}

} // namespace

int main(int argc, char *argv[])
{
    // Read before the application object opens a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (const ravelin::CommandLineAnswer answer = ravelin::readCommandLine(arguments);
        !answer.openWindow) {
        return end(answer);
    }

    QApplication app(argc, argv);
    if (const ravelin::CommandLineAnswer answer = ravelin::checkArgumentsLeft(
            QCoreApplication::arguments(), QGuiApplication::platformName());
        !answer.openWindow) {
        return end(answer);
    }
    ravelin::setUpApplication();

    const ravelin::CupsPrinters printers;
    ravelin::StatusLibrary library(
        ravelin::StatusLibrary::standardCandidates(QCoreApplication::applicationDirPath()));
    ravelin::ModalMessageBox messages;
    const ravelin::SystemClock clock;

    ravelin::Form1 window(printers, library, messages, clock, QLocale::system());
    messages.setOwner(&window);
    window.Form_Load();
    window.show();
    return QApplication::exec();
}
