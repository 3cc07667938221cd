// SPDX-License-Identifier: MIT
// CupsPrinters with no scheduler to reach: an empty list, at once.

#include "cupsprinters.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestCupsPrintersUnreachable : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void noSchedulerGivesAnEmptyList();

private:
    QTemporaryDir m_dir{u"/tmp/rvtest.XXXXXX"_s};
};

// libcups reads its configuration at its first use: point it at a socket that does not exist
// (and away from the machine's own configuration and the user's) before that.
void TestCupsPrintersUnreachable::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qputenv("CUPS_SERVER", QFile::encodeName(m_dir.filePath(u"none.sock"_s)));
    qputenv("CUPS_SERVERROOT", QFile::encodeName(m_dir.path()));
    qputenv("HOME", QFile::encodeName(m_dir.path()));
    qunsetenv("PRINTER");
    qunsetenv("LPDEST");
}

void TestCupsPrintersUnreachable::noSchedulerGivesAnEmptyList()
{
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(ravelin::CupsPrinters().printerNames(), QStringList());
    qInfo("printerNames() with no scheduler took %lld ms", timer.elapsed());
}

QTEST_GUILESS_MAIN(TestCupsPrintersUnreachable)
#include "tst_cupsprinters_unreachable.moc"
