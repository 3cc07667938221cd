// SPDX-License-Identifier: MIT
#include "pollingperiod.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestPollingPeriod : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void read_data();
    void read();
};

void TestPollingPeriod::read_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("period");

    QTest::newRow("start-up text") << u"1000"_s << 1000;
    QTest::newRow("preset") << u"60000"_s << 60000;
    QTest::newRow("letters only") << u"fast"_s << 0;
    QTest::newRow("empty") << QString() << 0;
    QTest::newRow("blanks only") << u" \t\n"_s << 0;
    QTest::newRow("half rounds down to even") << u"1500.5"_s << 1500;
    QTest::newRow("half rounds up to even") << u"1501.5"_s << 1502;
    QTest::newRow("just over half rounds up") << u"1500.5000000000000000000001"_s << 1501;
    QTest::newRow("just under half rounds down") << u"1500.4999999999999999999999"_s << 1500;
    QTest::newRow("lone half rounds to zero") << u".5"_s << 0;
    QTest::newRow("one and a half rounds to two") << u"1.5"_s << 2;
    QTest::newRow("blank between digits is ignored") << u"2 000"_s << 2000;
    QTest::newRow("tab and line feed between digits are ignored") << u"1\t0\n00"_s << 1000;
    QTest::newRow("comma ends the number") << u"1,000"_s << 1;
    QTest::newRow("carriage return ends the number") << u"10\r00"_s << 10;
    QTest::newRow("unit after the number") << u"500ms"_s << 500;
    QTest::newRow("plus sign") << u"+750"_s << 750;
    QTest::newRow("blank after the sign") << u"+ 750"_s << 750;
    QTest::newRow("negative holds at zero") << u"-500"_s << 0;
    QTest::newRow("negative fraction rounds to zero") << u"-0.4"_s << 0;
    QTest::newRow("two signs are no number") << u"--5"_s << 0;
    QTest::newRow("lone sign") << u"-"_s << 0;
    QTest::newRow("full stop alone") << u"."_s << 0;
    QTest::newRow("trailing full stop") << u"250."_s << 250;
    QTest::newRow("exponent") << u"1E3"_s << 1000;
    QTest::newRow("lower-case exponent") << u"2e3"_s << 2000;
    QTest::newRow("fraction and exponent") << u"1.5E3"_s << 1500;
    QTest::newRow("negative exponent") << u"25E-1"_s << 2;
    QTest::newRow("exponent with blanks") << u"1 E + 3"_s << 1000;
    QTest::newRow("exponent without digits ends the number") << u"12E"_s << 12;
    QTest::newRow("exponent sign without digits") << u"12E+"_s << 12;
    QTest::newRow("exponent without mantissa") << u"E5"_s << 0;
    QTest::newRow("huge exponent holds at the maximum") << u"1E999999999999999999999"_s << 65535;
    QTest::newRow("huge negative exponent is zero") << u"1E-999999999999999999999"_s << 0;
    QTest::newRow("zero with huge exponent") << u"0E999999999"_s << 0;
    QTest::newRow("largest period") << u"65535"_s << 65535;
    QTest::newRow("largest period and a half") << u"65535.5"_s << 65535;
    QTest::newRow("above the largest holds at it") << u"65536"_s << 65535;
    QTest::newRow("thousands of digits hold at the maximum") << QString(5000, u'9') << 65535;
    QTest::newRow("thousands of leading zeros") << QString(5000, u'0') + u"1000"_s << 1000;
    QTest::newRow("thousands of fraction digits") << u"1."_s + QString(5000, u'0') + u"1"_s << 1;
    QTest::newRow("hexadecimal") << u"&H1F4"_s << 500;
    QTest::newRow("hexadecimal, lower case") << u"&h1f4"_s << 500;
    QTest::newRow("octal") << u"&O764"_s << 500;
    QTest::newRow("octal, lower case") << u"&o764"_s << 500;
    QTest::newRow("octal stops at 8") << u"&O78"_s << 7;
    QTest::newRow("hexadecimal without digits") << u"&H"_s << 0;
    QTest::newRow("octal without digits") << u"&O"_s << 0;
    QTest::newRow("hexadecimal with blanks") << u" & H 1 0"_s << 16;
    QTest::newRow("long hexadecimal holds at the maximum, not negative")
        << u"&HFFFFFFFFFFFF"_s << 65535;
    QTest::newRow("hexadecimal FFFF") << u"&HFFFF"_s << 65535;
    QTest::newRow("thousands of hexadecimal digits") << u"&H"_s + QString(5000, u'F') << 65535;
    QTest::newRow("ampersand without radix") << u"&17"_s << 0;
    QTest::newRow("sign before ampersand") << u"-&H10"_s << 0;
    QTest::newRow("non-ASCII digits are no number") << u"\u0661\u0662"_s << 0;
    QTest::newRow("full-width digits are no number") << u"\uff11\uff10"_s << 0;
}

void TestPollingPeriod::read()
{
    QFETCH(QString, text);
    QFETCH(int, period);
    QCOMPARE(ravelin::pollingPeriodFromText(text), period);
}

QTEST_GUILESS_MAIN(TestPollingPeriod)
#include "tst_pollingperiod.moc"
