// SPDX-License-Identifier: MIT
#include "cupsprinters.h"

#include <cups/cups.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace ravelin {

namespace {

// One reading of the list, shared by the caller and the thread that reads. The caller may stop
// waiting before the thread is done; whichever of the two lets go last frees it.
struct Reading
{
    std::mutex mutex;
    std::condition_variable finished;
    QStringList names;
    bool done = false;
    bool abandoned = false;
};

int collectName(void *userData, unsigned flags, cups_dest_t *destination)
{
    auto &reading = *static_cast<Reading *>(userData);
    const std::lock_guard lock(reading.mutex);
    if (reading.abandoned)
        return 0; // nobody waits for the rest: stop
    if (!(flags & CUPS_DEST_FLAGS_REMOVED) && destination && destination->name) {
        QString name = QString::fromUtf8(destination->name);
        if (destination->instance) {
            name += u'/';
            name += QString::fromUtf8(destination->instance);
        }
        reading.names.append(name);
    }
    return 1; // go on
}

void readNames(const std::shared_ptr<Reading> &reading)
{
    // Only destinations whose type has CUPS_PRINTER_DISCOVERED clear: the installed queues.
    // With that mask libcups asks the scheduler and does not browse, so the time-out (for
    // browsing only) is 0. libcups owns the destinations and frees them before cupsEnumDests()
    // returns; the callback copies the names out.
    cupsEnumDests(CUPS_DEST_FLAGS_NONE, 0, nullptr, 0, CUPS_PRINTER_DISCOVERED, collectName,
                  reading.get());
    const std::lock_guard lock(reading->mutex);
    reading->done = true;
    reading->finished.notify_all();
}

} // namespace

QStringList CupsPrinters::printerNames() const
{
    // libcups waits up to a minute for each of its two requests to a scheduler that accepts
    // and then says nothing, and its time-out callback fires only after a silence, which a
    // scheduler sending a byte now and then never leaves. So the list is read on a thread of
    // its own, and the caller takes what it has when its patience ends. A late reader stops
    // at its next destination and ends when libcups gives up.
    auto reading = std::make_shared<Reading>();
    try {
        std::thread(readNames, reading).detach();
    } catch (const std::system_error &) {
        return {}; // no thread to read with: as if there were no scheduler
    }
    std::unique_lock lock(reading->mutex);
    reading->finished.wait_for(lock, Patience, [&] { return reading->done; });
    reading->abandoned = !reading->done;
    return reading->names;
}

} // namespace ravelin
