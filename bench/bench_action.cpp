// SPDX-License-Identifier: MIT
// The cost of one query-and-log action, offscreen, against the toolkit work that no
// implementation of it can avoid.
//
// Ours: the query button's full action on the real window, through the status library double.
// Floor: on the same window's controls, sixteen check-state writes, one append of the same line
// (its date and time formatted by the locale, with a format derived once beforehand), select,
// scroll to it and remove the oldest at 99 lines. Both make a pass of the event loop after every
// action, so painting counts. The two alternate in rounds; the figures are medians over them.
//
//   bench_action [ACTIONS_PER_ROUND [ROUNDS]]   prints key=value lines
//   bench_action --only ours|floor ACTIONS      runs one side alone (for callgrind)

#include "benchrig.h"
#include "timing.h"

#include <QCheckBox>
#include <QDateTime>
#include <QEvent>
#include <QListWidget>
#include <QLocale>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// The locale's short date and time to the second, as one format, derived once.
QString dateTimeFormat(const QLocale &locale)
{
    QString time;
    bool quoted = false;
    for (const QChar c : locale.timeFormat(QLocale::LongFormat)) {
        if (c == u'\'')
            quoted = !quoted;
        if (quoted || c != u't')
            time.append(c);
    }
    return locale.dateFormat(QLocale::ShortFormat) + u' ' + time.trimmed();
}

class Floor
{
public:
    explicit Floor(bench::ShownWindow &rig)
        : m_list(rig.control<QListWidget>(u"ListStatus"_s))
        , m_locale(rig.locale)
        , m_format(dateTimeFormat(rig.locale))
    {
        for (size_t bit = 0; bit < ravelin::StatusBitCount; ++bit)
            m_boxes[bit] = rig.control<QCheckBox>(u"chkStatus_%1"_s.arg(bit));
        // The rest of the program's line for each word, so that both draw the same text.
        for (size_t i = 0; i < bench::AlternatingWords.size(); ++i) {
            const QString line = rig.window.UpdateRealTimeStatusBits(bench::AlternatingWords[i]);
            m_tails[i] = line.mid(line.indexOf(u" [0x"_s));
        }
    }

    void action(size_t i)
    {
        const ravelin::StatusWord word = bench::AlternatingWords[i % 2];
        for (size_t bit = 0; bit < ravelin::StatusBitCount; ++bit)
            m_boxes[bit]->setChecked((word >> bit) & 1);
        m_list->addItem(m_locale.toString(QDateTime::currentDateTime(), m_format) + m_tails[i % 2]);
        const int last = m_list->count() - 1;
        m_list->setCurrentRow(last);
        m_list->scrollToItem(m_list->item(last));
        if (m_list->count() > ravelin::StatusLogCapacity)
            delete m_list->takeItem(0);
    }

private:
    std::array<QCheckBox *, ravelin::StatusBitCount> m_boxes{};
    QListWidget *m_list;
    QLocale m_locale;
    QString m_format;
    std::array<QString, 2> m_tails;
};

void oursAction(bench::ShownWindow &rig, size_t i)
{
    rig.statusDouble.script(bench::AlternatingWords[i % 2], 0);
    rig.window.cmdRetreivePrinterStatus_Click();
}

// Kept out of line, so that a profile can be limited to them (callgrind --toggle-collect).
[[gnu::noinline]] void runOurs(bench::ShownWindow &rig, size_t actions)
{
    for (size_t i = 0; i < actions; ++i) {
        oursAction(rig, i);
        bench::settle();
    }
}

[[gnu::noinline]] void runFloor(Floor &floor, size_t actions)
{
    for (size_t i = 0; i < actions; ++i) {
        floor.action(i);
        bench::settle();
    }
}

// Counts the paint events that reach the window's widgets, by kind of widget.
class PaintCounter final : public QObject
{
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            ++total;
            if (watched->objectName() == u"qt_scrollarea_viewport"_s)
                ++listViewport;
            else if (qobject_cast<QCheckBox *>(watched))
                ++checkBoxes;
        }
        return false;
    }
    void reset() { total = listViewport = checkBoxes = 0; }
    int total = 0;
    int listViewport = 0;
    int checkBoxes = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    const auto app = bench::startApplication(argc, argv);

    bench::ShownWindow rig;
    Floor floor(rig);

    if (argc == 4 && std::strcmp(argv[1], "--only") == 0) {
        const size_t actions = std::strtoul(argv[3], nullptr, 10);
        if (std::strcmp(argv[2], "ours") == 0)
            runOurs(rig, actions);
        else
            runFloor(floor, actions);
        return 0;
    }
    const size_t perRound = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 20000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;

    // Fill the log past 99 lines, so that every timed action trims.
    runOurs(rig, 300);
    runFloor(floor, 300);

    // Once, that painting really happens after every action, on both sides.
    PaintCounter paints;
    app->installEventFilter(&paints);
    const int checked = 200;
    runOurs(rig, checked);
    std::printf("action.paints_ours=%.2f\naction.paints_ours_list=%.2f\n"
                "action.paints_ours_checkboxes=%.2f\n",
                double(paints.total) / checked, double(paints.listViewport) / checked,
                double(paints.checkBoxes) / checked);
    paints.reset();
    runFloor(floor, checked);
    std::printf("action.paints_floor=%.2f\naction.paints_floor_list=%.2f\n"
                "action.paints_floor_checkboxes=%.2f\n",
                double(paints.total) / checked, double(paints.listViewport) / checked,
                double(paints.checkBoxes) / checked);
    app->removeEventFilter(&paints);

    std::vector<double> ours, bare, ratios;
    for (int round = 0; round < rounds; ++round) {
        double oursSeconds = 0, floorSeconds = 0;
        // Which side goes first alternates, so that neither always follows the other.
        for (int side = 0; side < 2; ++side) {
            const bool oursNow = (side == 0) == (round % 2 == 0);
            const double start = bench::seconds();
            if (oursNow)
                runOurs(rig, perRound);
            else
                runFloor(floor, perRound);
            (oursNow ? oursSeconds : floorSeconds) = bench::seconds() - start;
        }
        ours.push_back(double(perRound) / oursSeconds);
        bare.push_back(double(perRound) / floorSeconds);
        ratios.push_back(oursSeconds / floorSeconds);
    }
    const auto *list = rig.control<QListWidget>(u"ListStatus"_s);
    std::printf("qt.version=%s\n", qVersion());
    std::printf("action.lines=%d\naction.rounds=%d\naction.per_round=%zu\n"
                "action.ours_per_s=%.0f\naction.floor_per_s=%.0f\naction.ratio=%.3f\n",
                list->count(), rounds, perRound, bench::median(ours), bench::median(bare),
                bench::median(ratios));
    return 0;
}
