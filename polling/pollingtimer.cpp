// SPDX-License-Identifier: MIT
#include "pollingtimer.h"

#include "pollingperiod.h"

#include <algorithm>

namespace ravelin {

PollingTimer::PollingTimer(QObject *parent)
    : QObject(parent)
{
    connect(&m_ticks, &QTimer::timeout, this, &PollingTimer::timeout);
}

void PollingTimer::setInterval(int milliseconds)
{
    m_interval = std::clamp(milliseconds, 0, MaximumPollingPeriod);
    restart();
}

void PollingTimer::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    restart();
}

void PollingTimer::restart()
{
    if (m_enabled && m_interval > 0)
        m_ticks.start(m_interval);
    else
        m_ticks.stop();
}

} // namespace ravelin
