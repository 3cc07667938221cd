#pragma once

#include "statuslibrary.h"
#include "statusword.h"

#include <QLocale>
#include <QString>

namespace ravelin {

// The caption of every message box the program shows.
inline constexpr char16_t ApplicationTitle[] = u"Ravelin";

// Which printer a query asks about: read afresh at every query.
class PrinterChoice
{
public:
    virtual ~PrinterChoice() = default;
    // The "Use Printer Selected" check box: 0 unchecked, 1 checked.
    virtual int useSelectedPrinter() const = 0;
    virtual QString printerName() const = 0;
};

// A modal message box with an OK button; show() returns when the user has closed it.
class MessageBox
{
public:
    enum class Icon { None, Critical };
    virtual ~MessageBox() = default;
    virtual void show(const QString &text, Icon icon, const QString &caption) = 0;
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
