// SPDX-License-Identifier: MIT
#pragma once

#include "messagebox.h"
#include "statuslibrary.h"
#include "statusword.h"

#include <QLocale>
#include <QString>

#include <optional>

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
    // StatusLibraryError when the library or the function it needs is missing. Logs the word,
    // and the reason for Printer Error when it changes (statuslogging.h).
    QString RetreivePrinterStatus();
    QString UpdateRealTimeStatusBits(StatusWord status);

    // Why the word of the last query has Printer Error, as the status library says, on one
    // line; empty when the word has none or the library gives no reason.
    QString reason() const { return m_reason; }

private:
    void takeReason(StatusWord status);

    StatusIndicatorSet &m_indicators;
    const PrinterChoice &m_choice;
    MessageBox &m_messages;
    StatusLibrary &m_library;
    const Clock &m_clock;
    QLocale m_locale;
    QString m_reason;
    // What the log last said of the reason: nothing yet or since the error cleared, a reason,
    // or empty for an error left without one.
    std::optional<QString> m_loggedReason;
};

} // namespace ravelin
