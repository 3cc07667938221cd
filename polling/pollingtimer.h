// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QTimer>

namespace ravelin {

// The polling timer. It is on or off and has a period of 0 to 65535 milliseconds; a period of 0
// means it never ticks, even while it is on. The first tick comes one period after it is switched
// on, and setting the period while it is on starts the count again. It starts off, with period 0.
//
// A QTimer cannot stand in for it directly: with interval 0 a running QTimer fires on every pass
// of the event loop, so the on/off state and the period are kept here and the QTimer runs only
// when both call for ticks.
class PollingTimer final : public QObject
{
    Q_OBJECT

public:
    explicit PollingTimer(QObject *parent = nullptr);

    int interval() const { return m_interval; }
    // Takes 0 to 65535; other values are held to that range.
    void setInterval(int milliseconds);
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled);

    // Whether ticks are being timed now: on, with a period above 0.
    bool isTicking() const { return m_ticks.isActive(); }

Q_SIGNALS:
    void timeout();

private:
    void restart();

    QTimer m_ticks;
    int m_interval = 0;
    bool m_enabled = false;
};

} // namespace ravelin
