// SPDX-License-Identifier: MIT
#pragma once

#include <QStringList>

namespace ravelin {

// The printers installed on this system, by the names the print subsystem lists them under,
// in its order.
class InstalledPrinters
{
public:
    virtual ~InstalledPrinters() = default;
    virtual QStringList printerNames() const = 0;
};

} // namespace ravelin
