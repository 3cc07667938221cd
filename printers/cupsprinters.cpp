#include "cupsprinters.h"

#include <cups/cups.h>

namespace ravelin {

namespace {

int collectName(void *userData, unsigned flags, cups_dest_t *destination)
{
    auto &names = *static_cast<QStringList *>(userData);
    if (!(flags & CUPS_DEST_FLAGS_REMOVED) && destination && destination->name) {
        QString name = QString::fromUtf8(destination->name);
        if (destination->instance) {
            name += u'/';
            name += QString::fromUtf8(destination->instance);
        }
        names.append(name);
    }
    return 1; // go on
}

} // namespace

QStringList CupsPrinters::printerNames() const
{
    QStringList names;
    // Only destinations whose type has CUPS_PRINTER_DISCOVERED clear: the installed queues.
    // With that mask libcups asks the scheduler once and does not browse, so the time-out
    // (for browsing only) is 0. libcups owns the destinations and frees them before
    // cupsEnumDests() returns; the callback copies the names out.
    cupsEnumDests(CUPS_DEST_FLAGS_NONE, 0, nullptr, 0, CUPS_PRINTER_DISCOVERED, collectName,
                  &names);
    return names;
}

} // namespace ravelin
