// SPDX-License-Identifier: MIT
#include "fakes.h"
#include "statusdoubleclient.h"
#include "statuslog.h"
#include "statusquery.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// A log that keeps its lines and its selection the way a list box does: removing a line above
// the selected one moves the selection up with its line.
class ListLog final : public ravelin::StatusLog
{
public:
    int lineCount() const override { return int(lines.size()); }
    void appendLine(const QString &line, const QString &reason) override
    {
        lines.append(line);
        reasons.append(reason);
        steps.append(u"append"_s);
    }
    void selectLine(int index) override
    {
        selected = index;
        steps.append(u"select %1"_s.arg(index));
    }
    void removeLine(int index) override
    {
        lines.removeAt(index);
        if (selected > index)
            --selected;
        steps.append(u"remove %1"_s.arg(index));
    }

    QStringList lines;
    QStringList reasons;
    QStringList steps;
    int selected = -1;
};

} // namespace

class TestStatusLog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void action_data();
    void action();
};

void TestStatusLog::action_data()
{
    QTest::addColumn<int>("linesBefore");
    QTest::addColumn<int>("linesAfter");
    QTest::addColumn<QStringList>("steps");

    QTest::newRow("empty log gets one selected line")
        << 0 << 1 << QStringList{u"append"_s, u"select 0"_s};
    QTest::newRow("98 lines grow to 99, nothing dropped")
        << 98 << 99 << QStringList{u"append"_s, u"select 98"_s};
    QTest::newRow("99 lines: newest selected, then oldest dropped")
        << 99 << 99 << QStringList{u"append"_s, u"select 99"_s, u"remove 0"_s};
}

void TestStatusLog::action()
{
    QFETCH(int, linesBefore);
    QFETCH(int, linesAfter);
    QFETCH(QStringList, steps);

    StatusDoubleClient library(STATUS_DOUBLE_PATH);
    library.script(0x0003, 0);
    RecordingIndicators indicators;
    FixedChoice choice;
    RecordingMessageBox messages;
    FixedClock clock(QDateTime(QDate(2026, 12, 7), QTime(8, 30, 0)));
    ravelin::StatusLibrary statusLibrary({QString::fromUtf8(STATUS_DOUBLE_PATH)});
    ravelin::StatusQuery query(indicators, choice, messages, statusLibrary, clock, QLocale::c());

    ListLog log;
    // Equal lines are all kept: the old ones repeat one text.
    for (int i = 0; i < linesBefore; ++i)
        log.lines.append(i % 2 ? u"odd"_s : u"even"_s);
    const QStringList before = log.lines;

    ravelin::queryAndLog(query, log);

    const QString newest = u"7 Dec 2026 08:30:00 [0x0003]:  [Head Up][Paper Out]"_s;
    QCOMPARE(log.steps, steps);
    QCOMPARE(log.lineCount(), linesAfter);
    QCOMPARE(log.lines.last(), newest);
    QCOMPARE(log.selected, linesAfter - 1);
    QCOMPARE(log.lines.mid(0, linesAfter - 1), before.mid(linesBefore + 1 - linesAfter));
    QCOMPARE(library.lmCalls(), 1);
}

QTEST_GUILESS_MAIN(TestStatusLog)
#include "tst_statuslog.moc"
