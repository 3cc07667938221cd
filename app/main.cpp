// SPDX-License-Identifier: MIT
// Ravelin: shows the real-time status of the receipt printers of the QVT-7400 series.

#include "applicationlook.h"
#include "cupsprinters.h"
#include "form1.h"
#include "modalmessagebox.h"
#include "statuslibrary.h"
#include "statusword.h"

#include <QApplication>
#include <QLocale>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
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
