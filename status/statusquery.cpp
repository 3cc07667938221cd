// SPDX-License-Identifier: MIT
#include "statusquery.h"

#include "statuslogging.h"

#include <cstdint>
#include <string_view>

using namespace Qt::StringLiterals;

namespace ravelin {

Q_LOGGING_CATEGORY(statusLogging, "ravelin.status", QtWarningMsg)

namespace {

constexpr std::uint32_t PrinterErrorMask = 0x0080;
static_assert(std::string_view(StatusBitCaptions[7]) == "Printer Error");

// The library's text as one line: line breaks and other control characters become blanks, so
// that a reason can neither break the log's lines nor forge one.
QString oneLine(const QString &text)
{
    QString line = text;
    for (QChar &c : line) {
        if (c.category() == QChar::Other_Control)
            c = u' ';
    }
    return line.simplified();
}

} // namespace

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
    QString asked;
    if (m_choice.useSelectedPrinter() == 1) {
        const QString name = m_choice.printerName();
        if (name.isEmpty()) {
            m_messages.show(u"Invalid Printer Selected!"_s, MessageBox::Icon::Critical,
                            QString::fromUtf16(ApplicationTitle));
            asked = u"no printer named, nothing asked:"_s;
        } else {
            status = m_library.GetPrinterStatus(name);
            asked = u"GetPrinterStatus(\"%1\") ="_s.arg(oneLine(name));
        }
    } else {
        status = m_library.GetLMStatus();
        asked = u"GetLMStatus() ="_s;
    }
    qCDebug(statusLogging).noquote() << asked << u"0x"_s + statusFigure(status);
    takeReason(status);
    return UpdateRealTimeStatusBits(status);
}

// The library is asked for a reason only about a word with Printer Error, for which it keeps
// one. The log tells of each new reason, and then of its end: the error cleared, or left without
// a reason. A library that never gives one, as the maker's, leaves the log silent.
void StatusQuery::takeReason(StatusWord status)
{
    const bool printerError = (static_cast<std::uint32_t>(status) & PrinterErrorMask) != 0;
    m_reason = printerError ? oneLine(m_library.GetStatusReason()) : QString();
    if (!m_reason.isEmpty()) {
        if (m_loggedReason != m_reason)
            qCInfo(statusLogging).noquote() << u"Printer Error:"_s << m_reason;
        m_loggedReason = m_reason;
    } else if (printerError) {
        if (m_loggedReason && !m_loggedReason->isEmpty())
            qCInfo(statusLogging) << "Printer Error, no reason given";
        if (m_loggedReason)
            m_loggedReason = QString();
    } else if (m_loggedReason) {
        qCInfo(statusLogging) << "Printer Error cleared";
        m_loggedReason.reset();
    }
}

QString StatusQuery::UpdateRealTimeStatusBits(StatusWord status)
{
    return ravelin::UpdateRealTimeStatusBits(status, m_indicators, m_clock, m_locale);
}

} // namespace ravelin
