// SPDX-License-Identifier: MIT
#include "statusquery.h"

using namespace Qt::StringLiterals;

namespace ravelin {

StatusQuery::StatusQuery(StatusIndicatorSet &indicators, const PrinterChoice &choice,
                         MessageBox &messages, StatusLibrary &library, const Clock &clock,
                         const QLocale &locale)
    : m_indicators(indicators)
    , m_choice(choice)
    , m_messages(messages)
    , m_library(library)
    , m_clock(clock)
    , m_locale(locale)
{}

QString StatusQuery::RetreivePrinterStatus()
{
    StatusWord status = 0;
    if (m_choice.useSelectedPrinter() == 1) {
        const QString name = m_choice.printerName();
        if (name.isEmpty()) {
            m_messages.show(u"Invalid Printer Selected!"_s, MessageBox::Icon::Critical,
                            QString::fromUtf16(ApplicationTitle));
        } else {
            status = m_library.GetPrinterStatus(name);
        }
    } else {
        status = m_library.GetLMStatus();
    }
    return UpdateRealTimeStatusBits(status);
}

QString StatusQuery::UpdateRealTimeStatusBits(StatusWord status)
{
    return ravelin::UpdateRealTimeStatusBits(status, m_indicators, m_clock, m_locale);
}

} // namespace ravelin
