// SPDX-License-Identifier: MIT
// The window polling a printer of the series through the real stand-in: a queue on the private
// scheduler that "scripts/private-cups run" starts, pointing at the printer simulator. What the
// printer says, and the scheduler does not know, reaches the check boxes and the log.

#include "printersim.h"
#include "privatecups.h"
#include "windowrig.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>

class TestLiveWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void pollingSeesTheCoverOpenAndClosed();
};

void TestLiveWindow::initTestCase()
{
    if (PrivateCups::folder().isEmpty())
        QFAIL(qPrintable(PrivateCups::whyUnavailable()));
}

void TestLiveWindow::pollingSeesTheCoverOpenAndClosed()
{
    PrinterSim printer;
    QVERIFY(printer.start());
    QVERIFY(PrivateCups::removeEverything());
    QVERIFY(PrivateCups::addQueue(u"QVT-Live"_s, printer.socketUri()));

    WindowRig rig({u"QVT-Live"_s}, {QStringLiteral(QVLMSTAT_PATH)});
    rig.window.Form_Load();
    rig.window.show();
    QApplication::setActiveWindow(&rig.window);
    rig.control<QCheckBox>(u"chkUsePrinterSelected"_s)->click();
    QCOMPARE(rig.control<QComboBox>(u"ComboPrintersList"_s)->currentText(), u"QVT-Live"_s);

    // Polling every 100 ms, the printer all clear.
    QLineEdit *interval = rig.control<QComboBox>(u"comboParallelInterval"_s)->lineEdit();
    interval->setFocus();
    interval->selectAll();
    QTest::keyClicks(interval, u"100"_s);
    rig.control<QPushButton>(u"chkEnableStatusPolling"_s)->click();
    QTRY_VERIFY_WITH_TIMEOUT(!rig.logLines().isEmpty(), 5000);
    QCOMPARE(rig.checkedIndicators(), QList<int>());

    // The cover opens: only the printer knows.
    QVERIFY(printer.answer({0x12, 0x16, 0x12, 0x12}));
    QTRY_COMPARE_WITH_TIMEOUT(rig.checkedIndicators(), QList<int>{0}, 5000);
    QCOMPARE(rig.logLines().constLast(), Time + u" [0x0001]:  [Head Up]"_s);

    QVERIFY(printer.answer({0x12, 0x12, 0x12, 0x12}));
    QTRY_COMPARE_WITH_TIMEOUT(rig.checkedIndicators(), QList<int>(), 5000);
    QCOMPARE(rig.logLines().constLast(), Time + u" [0x0000]:  "_s);

    rig.control<QPushButton>(u"chkEnableStatusPolling"_s)->click();
    QVERIFY(rig.messages.shown.isEmpty());
}

QTEST_MAIN(TestLiveWindow)
#include "tst_livewindow.moc"
