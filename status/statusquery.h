// SPDX-License-Identifier: MIT
#pragma once

#include "messagebox.h"
#include "statuslibrary.h"
#include "statusword.h"

#include <QLocale>
#include <QString>

namespace ravelin {

// Which printer a query asks about: read afresh at every query.
class PrinterChoice
{
public:
    virtual ~PrinterChoice() = default;
    // The "Use Printer Selected" check box: 0 unchecked, 1 checked.
    virtual int useSelectedPrinter() const = 0;
    virtual QString printerName() const = 0;
};

// The window's two public operations, over the pieces of the window they need.
class StatusQuery
{
public:
    StatusQuery(StatusIndicatorSet &indicators, const PrinterChoice &choice, MessageBox &messages,
                StatusLibrary &library, const Clock &clock, const QLocale &locale);

    // One query: the language monitor's status, or the chosen printer's when "Use Printer
    // Selected" is checked. Sets the indicators and returns the report line. Throws
    // StatusLibraryError when the library or the function it needs is missing.
    QString RetreivePrinterStatus();
    QString UpdateRealTimeStatusBits(StatusWord status);

private:
    StatusIndicatorSet &m_indicators;
    const PrinterChoice &m_choice;
    MessageBox &m_messages;
    StatusLibrary &m_library;
    const Clock &m_clock;
    QLocale m_locale;
};

} // namespace ravelin
