// SPDX-License-Identifier: MIT
#include "probe.h"

#include <QTest>

using namespace Qt::StringLiterals;

// The program's answer to a status library that cannot serve a query: one critical box with the
// loader's reason, then the end of the process with status 1, before anything else runs.
class TestFailureGuard : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void failureEndsTheProgram_data();
    void failureEndsTheProgram();
};

void TestFailureGuard::failureEndsTheProgram_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("mentions");

    const QString box = u"box caption=Ravelin icon=critical"_s;
    QTest::newRow("missing library")
        << QStringList{u"lm"_s, u"/nonexistent/ravelin/libQVLMSTAT.so"_s} << 1
        << QStringList{box, u"libQVLMSTAT.so"_s, u"No such file or directory"_s};
    QTest::newRow("missing GetLMStatus")
        << QStringList{u"lm"_s, QString::fromUtf8(STATUS_DOUBLE_WITHOUT_LM_PATH)} << 1
        << QStringList{box, u"GetLMStatus"_s, u"undefined symbol"_s};
    QTest::newRow("missing GetPrinterStatus")
        << QStringList{u"printer"_s, QString::fromUtf8(STATUS_DOUBLE_WITHOUT_PRINTER_PATH)} << 1
        << QStringList{box, u"GetPrinterStatus"_s, u"undefined symbol"_s};
    QTest::newRow("function present: both queries run, no box")
        << QStringList{u"printer"_s, QString::fromUtf8(STATUS_DOUBLE_WITHOUT_LM_PATH)} << 0
        << QStringList{u"line "_s};
}

void TestFailureGuard::failureEndsTheProgram()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, mentions);

    QString output;
    if (!runProbe(FAILURE_GUARD_PROBE_PATH, arguments, exitCode, output))
        return;
    for (const QString &mention : mentions)
        QVERIFY2(output.contains(mention), qPrintable(output));
    if (exitCode != 0) {
        QCOMPARE(output.count(u"box caption="_s), 1);
        QVERIFY2(!output.contains(u"line "_s), qPrintable(output));
    } else {
        QCOMPARE(output.count(u"line "_s), 2);
        QVERIFY2(!output.contains(u"box caption="_s), qPrintable(output));
    }
}

QTEST_GUILESS_MAIN(TestFailureGuard)
#include "tst_failureguard.moc"
