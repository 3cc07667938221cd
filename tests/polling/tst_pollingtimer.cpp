// SPDX-License-Identifier: MIT
#include "pollingtimer.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using ravelin::PollingTimer;

class TestPollingTimer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void state_data();
    void state();
    void newPeriodWhileOnTakesEffectAtOnce();
};

void TestPollingTimer::state_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("on");
    QTest::addColumn<int>("period");
    QTest::addColumn<bool>("ticking");

    QTest::newRow("starts off, with period 0") << QStringList{} << false << 0 << false;
    QTest::newRow("on with period 0 never ticks") << QStringList{u"on"_s} << true << 0 << false;
    QTest::newRow("on with a period ticks")
        << QStringList{u"period 500"_s, u"on"_s} << true << 500 << true;
    QTest::newRow("a period while off starts nothing")
        << QStringList{u"period 500"_s} << false << 500 << false;
    QTest::newRow("off stops the ticks and keeps the period")
        << QStringList{u"period 500"_s, u"on"_s, u"off"_s} << false << 500 << false;
    QTest::newRow("period 0 while on stops the ticks")
        << QStringList{u"period 500"_s, u"on"_s, u"period 0"_s} << true << 0 << false;
    QTest::newRow("on twice is on")
        << QStringList{u"period 500"_s, u"on"_s, u"on"_s} << true << 500 << true;
    QTest::newRow("above the range is held at 65535")
        << QStringList{u"period 70000"_s, u"on"_s} << true << 65535 << true;
    QTest::newRow("below the range is held at 0")
        << QStringList{u"period 500"_s, u"on"_s, u"period -1"_s} << true << 0 << false;
}

void TestPollingTimer::state()
{
    QFETCH(QStringList, steps);
    QFETCH(bool, on);
    QFETCH(int, period);
    QFETCH(bool, ticking);

    PollingTimer timer;
    for (const QString &step : std::as_const(steps)) {
        if (step.startsWith(u"period "_s))
            timer.setInterval(step.section(u' ', 1).toInt());
        else
            timer.setEnabled(step == u"on"_s);
    }
    QCOMPARE(timer.isEnabled(), on);
    QCOMPARE(timer.interval(), period);
    QCOMPARE(timer.isTicking(), ticking);
}

// A minute's period shortened to a millisecond while on: the count starts again with the new
// period, so ticks come long before the minute is up.
void TestPollingTimer::newPeriodWhileOnTakesEffectAtOnce()
{
    PollingTimer timer;
    QSignalSpy ticks(&timer, &PollingTimer::timeout);
    timer.setInterval(60000);
    timer.setEnabled(true);
    timer.setInterval(1);
    QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 2, 10000);
}

QTEST_GUILESS_MAIN(TestPollingTimer)
#include "tst_pollingtimer.moc"
