// SPDX-License-Identifier: MIT
// The floors of the start-up benchmark: a bare main window of the program's window's size, empty,
// or (built with BARE_WITH_LABEL) holding one label, so that it draws text, as every real
// window does, with the toolkit's own font.
//
// Built with BARE_LISTS_PRINTERS, it first lists the print system's destinations once, before
// the window is made, as any program that offers the installed printers through libcups does:
// that loads libcups and what it links (TLS, Kerberos, service discovery) and asks the scheduler.
// The call is the program's: the installed queues only, without browsing for discovered ones.

#include <QApplication>
#include <QMainWindow>
#ifdef BARE_WITH_LABEL
#include <QLabel>
#endif
#ifdef BARE_LISTS_PRINTERS
#include <QStringList>

#include <cups/cups.h>
#endif

using namespace Qt::StringLiterals;

#ifdef BARE_LISTS_PRINTERS
namespace {

int keepName(void *userData, unsigned flags, cups_dest_t *destination)
{
    if (!(flags & CUPS_DEST_FLAGS_REMOVED) && destination && destination->name)
        static_cast<QStringList *>(userData)->append(QString::fromUtf8(destination->name));
    return 1;
}

} // namespace
#endif

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
#ifdef BARE_LISTS_PRINTERS
    QStringList names;
    cupsEnumDests(CUPS_DEST_FLAGS_NONE, 0, nullptr, 0, CUPS_PRINTER_DISCOVERED, keepName, &names);
    // A floor that reached no scheduler would cost less than one that did.
    if (names.isEmpty()) {
        qCritical("The print system listed no destination: is a scheduler running?");
        return 1;
    }
#endif
    QMainWindow window;
#ifdef BARE_WITH_LABEL
    window.setCentralWidget(new QLabel(u"Printer Status Bits"_s));
#endif
    window.resize(584, 496);
    window.show();
    return QApplication::exec();
}
