// SPDX-License-Identifier: MIT
// CupsPrinters against a real scheduler: the private one "scripts/private-cups run" starts.

#include "cupsprinters.h"
#include "privatecups.h"

#include <QTest>

using namespace Qt::StringLiterals;

using ravelin::CupsPrinters;

class TestCupsPrinters : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void noQueuesGiveAnEmptyList();
    void namesInTheSchedulersOrder();
    void theSameListAsTheSystemsTools();
    void theDefaultChangesNothing();
};

void TestCupsPrinters::initTestCase()
{
    if (PrivateCups::folder().isEmpty())
        QFAIL(qPrintable(PrivateCups::whyUnavailable()));
}

void TestCupsPrinters::init()
{
    QVERIFY(PrivateCups::removeEverything());
}

void TestCupsPrinters::noQueuesGiveAnEmptyList()
{
    QCOMPARE(CupsPrinters().printerNames(), QStringList());
}

// "QVT" at the start, in the middle, at the end, in lower case and in an instance's queue
// name; made in an order of their own, listed in the scheduler's: case-insensitive
// alphabetical, each instance after its queue.
void TestCupsPrinters::namesInTheSchedulersOrder()
{
    for (const QString &name : {u"qvt-lowercase"_s, u"Laser-Office"_s, u"QVT-7460"_s,
                                u"Counter-QVT"_s, u"Front_QVT_Receipt"_s, u"QVT-Küche"_s}) {
        QVERIFY(PrivateCups::addQueue(name));
    }
    QVERIFY(PrivateCups::addInstance(u"QVT-7460"_s, u"receipt"_s));
    QVERIFY(PrivateCups::addInstance(u"Laser-Office"_s, u"draft"_s));

    const QStringList expected = {
        u"Counter-QVT"_s, u"Front_QVT_Receipt"_s, u"Laser-Office"_s, u"Laser-Office/draft"_s,
        u"QVT-7460"_s,    u"QVT-7460/receipt"_s,  u"QVT-Küche"_s,    u"qvt-lowercase"_s,
    };
    QCOMPARE(CupsPrinters().printerNames(), expected);
}

// The list is what the print system's own tools list, in their order.
void TestCupsPrinters::theSameListAsTheSystemsTools()
{
    for (const QString &name : {u"b-printer"_s, u"A-QVT"_s, u"c_QVT"_s, u"QVT"_s})
        QVERIFY(PrivateCups::addQueue(name));
    QVERIFY(PrivateCups::addInstance(u"QVT"_s, u"one"_s));

    QByteArray listed;
    QVERIFY(PrivateCups::run(u"lpstat"_s, {u"-e"_s}, &listed));
    const QStringList lpstat = QString::fromUtf8(listed).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lpstat.size(), 5);
    QCOMPARE(CupsPrinters().printerNames(), lpstat);
}

void TestCupsPrinters::theDefaultChangesNothing()
{
    for (const QString &name : {u"QVT-1"_s, u"QVT-2"_s, u"QVT-3"_s})
        QVERIFY(PrivateCups::addQueue(name));
    QVERIFY(PrivateCups::setServerDefault(u"QVT-3"_s));
    QCOMPARE(CupsPrinters().printerNames(), QStringList({u"QVT-1"_s, u"QVT-2"_s, u"QVT-3"_s}));
}

QTEST_GUILESS_MAIN(TestCupsPrinters)
#include "tst_cupsprinters.moc"
