// SPDX-License-Identifier: MIT
#include "fakes.h"
#include "statusword.h"

#include <QTest>

using namespace Qt::StringLiterals;
using ravelin::StatusWord;

namespace {

const QDateTime Afternoon(QDate(2026, 12, 7), QTime(14, 5, 9));
const QLocale UnitedStates(QLocale::English, QLocale::UnitedStates);
const QString AfternoonInUnitedStates = u"12/7/26 2:05:09 PM"_s;

} // namespace

class TestStatusWord : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void reportLine_data();
    void reportLine();
    void everyIndicatorIsWrittenOnEveryCall();
    void timeIsReadOnceBeforeAnyIndicatorChanges();
    void namesComeFromTheIndicatorCaptions();
    void dateTimeText_data();
    void dateTimeText();
};

void TestStatusWord::reportLine_data()
{
    QTest::addColumn<StatusWord>("status");
    QTest::addColumn<QString>("figureAndNames");
    QTest::addColumn<quint16>("checked");

    QTest::newRow("no bit set ends in two blanks") << 0 << u"0000]:  "_s << quint16(0);
    QTest::newRow("bits 0 and 1") << 3 << u"0003]:  [Head Up][Paper Out]"_s << quint16(0x0003);
    QTest::newRow("bits 0 and 15, bit 0 first")
        << 0x8001 << u"8001]:  [Head Up][Receipt Purged]"_s << quint16(0x8001);
    QTest::newRow("figure with letters is upper case and padded")
        << 0xA5 << u"00A5]:  [Head Up][Paper at Delivery][Spare Sensor][Printer Error]"_s
        << quint16(0x00A5);
    QTest::newRow("bit 16 widens the figure but names nothing")
        << 0x12345
        << u"12345]:  [Head Up][Paper at Delivery][Over Temp][Delivery Jam][Receipt Dropped]"
           u"[Rx Buffer Full]"_s
        << quint16(0x2345);
    QTest::newRow("only high bits: eight digits, no names")
        << 0x7FFF0000 << u"7FFF0000]:  "_s << quint16(0);
    QTest::newRow("minus one shows eight F and every name")
        << -1
        << u"FFFFFFFF]:  [Head Up][Paper Out][Paper at Delivery][Cutter Home][Paper Low]"
           u"[Spare Sensor][Over Temp][Printer Error][Delivery Jam][Receipt Dropped]"
           u"[Receipt Taken][Printer Busy][Cutter Error][Rx Buffer Full][Spare][Receipt Purged]"_s
        << quint16(0xFFFF);
    QTest::newRow("most negative word is two's complement")
        << std::numeric_limits<StatusWord>::min() << u"80000000]:  "_s << quint16(0);
}

void TestStatusWord::reportLine()
{
    QFETCH(StatusWord, status);
    QFETCH(QString, figureAndNames);
    QFETCH(quint16, checked);

    RecordingIndicators indicators;
    FixedClock clock(Afternoon);
    const QString line = ravelin::UpdateRealTimeStatusBits(status, indicators, clock, UnitedStates);

    QCOMPARE(line, AfternoonInUnitedStates + u" [0x"_s + figureAndNames);
    for (std::size_t bit = 0; bit < ravelin::StatusBitCount; ++bit)
        QCOMPARE(indicators.states[bit], (checked >> bit) & 1);
}

void TestStatusWord::everyIndicatorIsWrittenOnEveryCall()
{
    RecordingIndicators indicators;
    FixedClock clock(Afternoon);
    const QList<int> inBitOrder{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

    ravelin::UpdateRealTimeStatusBits(-1, indicators, clock, UnitedStates);
    QCOMPARE(indicators.writes, inBitOrder);

    indicators.writes.clear();
    ravelin::UpdateRealTimeStatusBits(0x0002, indicators, clock, UnitedStates);
    QCOMPARE(indicators.writes, inBitOrder);
    for (std::size_t bit = 0; bit < ravelin::StatusBitCount; ++bit)
        QCOMPARE(indicators.states[bit], bit == 1 ? 1 : 0);
}

void TestStatusWord::timeIsReadOnceBeforeAnyIndicatorChanges()
{
    RecordingIndicators indicators;
    FixedClock clock(Afternoon, &indicators);
    ravelin::UpdateRealTimeStatusBits(0x00FF, indicators, clock, UnitedStates);
    QCOMPARE(clock.readings, 1);
    QCOMPARE(clock.writesBeforeReading, 0);
}

void TestStatusWord::namesComeFromTheIndicatorCaptions()
{
    RecordingIndicators indicators;
    indicators.captions[0] = u"Lid open"_s;
    indicators.captions[4] = u"Roll nearly done"_s;
    FixedClock clock(Afternoon);
    const QString line = ravelin::UpdateRealTimeStatusBits(0x11, indicators, clock, UnitedStates);
    QVERIFY2(line.endsWith(u"]:  [Lid open][Roll nearly done]"_s), qPrintable(line));
}

void TestStatusWord::dateTimeText_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QString>("expected");

    const QDateTime morning(QDate(2026, 1, 2), QTime(9, 5, 3));
    QTest::newRow("US English afternoon, 12-hour clock")
        << UnitedStates << Afternoon << AfternoonInUnitedStates;
    QTest::newRow("US English morning") << UnitedStates << morning << u"1/2/26 9:05:03 AM"_s;
    QTest::newRow("German, 24-hour clock")
        << QLocale(QLocale::German, QLocale::Germany) << Afternoon << u"07.12.26 14:05:09"_s;
    QTest::newRow("British English, four-digit year")
        << QLocale(QLocale::English, QLocale::UnitedKingdom) << Afternoon
        << u"07/12/2026 14:05:09"_s;
    QTest::newRow("Japanese, time with unit characters")
        << QLocale(QLocale::Japanese, QLocale::Japan) << Afternoon
        << u"2026/12/07 14\u664205\u520609\u79d2"_s;
}

// The short date, a blank and the time to the second, each as the locale writes it, and no
// time zone.
void TestStatusWord::dateTimeText()
{
    QFETCH(QLocale, locale);
    QFETCH(QDateTime, when);
    QFETCH(QString, expected);
    QCOMPARE(ravelin::generalDateTimeText(when, locale), expected);
}

QTEST_GUILESS_MAIN(TestStatusWord)
#include "tst_statusword.moc"
