#pragma once

#include "installedprinters.h"

namespace ravelin {

// The installed printers as the CUPS scheduler that libcups is configured to use lists them:
// its queues and classes, and the instances (name/instance) saved in the lpoptions files, in
// the scheduler's order (case-insensitive alphabetical). Printers that are only discovered on
// the network do not count and are not browsed for. With no scheduler reachable the list is
// empty.
class CupsPrinters final : public InstalledPrinters
{
public:
    QStringList printerNames() const override;
};

} // namespace ravelin
