// SPDX-License-Identifier: MIT
// The stand-in status library's keyword-to-word mapping, from a table. The keywords are written
// out here by hand, so that a slip in deriving them from the captions shows.

#include "statusmapping.h"

#include <QList>
#include <QTest>

#include <string>
#include <vector>

using namespace ravelin::qvlmstat;

namespace {

constexpr int Idle = PrinterStateIdle;
constexpr int Processing = PrinterStateProcessing;
constexpr int Stopped = PrinterStateStopped;

StatusWord wordFor(int state, const QList<QByteArray> &reasons)
{
    std::vector<std::string_view> views;
    for (const QByteArray &reason : reasons)
        views.emplace_back(reason.constData(), static_cast<std::size_t>(reason.size()));
    return statusWord(state, views);
}

} // namespace

class TestStatusMapping : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void vendorKeywords_data();
    void vendorKeywords();
    void statusWord_data();
    void statusWord();
    void stateBits_data();
    void stateBits();
};

// Every bit's vendor keyword, bare and with each severity suffix, sets exactly that bit.
void TestStatusMapping::vendorKeywords_data()
{
    QTest::addColumn<QByteArray>("keyword");
    QTest::addColumn<int>("bits");

    const QList<QPair<QByteArray, int>> keywords = {
        {"com.quorvel-head-up", 0x0001},
        {"com.quorvel-paper-out", 0x0002},
        {"com.quorvel-paper-at-delivery", 0x0004},
        {"com.quorvel-cutter-home", 0x0008},
        {"com.quorvel-paper-low", 0x0010},
        {"com.quorvel-spare-sensor", 0x0020},
        {"com.quorvel-over-temp", 0x0040},
        {"com.quorvel-printer-error", 0x0080},
        {"com.quorvel-delivery-jam", 0x0100},
        {"com.quorvel-receipt-dropped", 0x0200},
        {"com.quorvel-receipt-taken", 0x0400},
        {"com.quorvel-printer-busy", 0x0800},
        {"com.quorvel-cutter-error", 0x1000},
        {"com.quorvel-rx-buffer-full", 0x2000},
        {"com.quorvel-spare", 0x4000},
        {"com.quorvel-receipt-purged", 0x8000},
    };
    for (const auto &[keyword, bits] : keywords) {
        for (const QByteArray suffix : {"", "-report", "-warning", "-error"}) {
            const QByteArray full = keyword + suffix;
            QTest::newRow(full.constData()) << full << bits;
        }
    }
}

void TestStatusMapping::vendorKeywords()
{
    QFETCH(QByteArray, keyword);
    QFETCH(int, bits);
    const std::string_view text(keyword.constData(), static_cast<std::size_t>(keyword.size()));
    QCOMPARE(reasonBits(text), bits);
}

void TestStatusMapping::statusWord_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QList<QByteArray>>("reasons");
    QTest::addColumn<int>("word");

    using R = QList<QByteArray>;

    QTest::newRow("idle, no reasons") << Idle << R{} << 0x0000;
    QTest::newRow("idle, none") << Idle << R{"none"} << 0x0000;

    // The standard keywords, bare and with suffixes.
    QTest::newRow("cover-open") << Idle << R{"cover-open"} << 0x0001;
    QTest::newRow("cover-open-warning") << Idle << R{"cover-open-warning"} << 0x0001;
    QTest::newRow("door-open-report") << Idle << R{"door-open-report"} << 0x0001;
    QTest::newRow("interlock-open-error") << Idle << R{"interlock-open-error"} << 0x0001;
    QTest::newRow("media-empty") << Idle << R{"media-empty"} << 0x0002;
    QTest::newRow("media-empty-error") << Idle << R{"media-empty-error"} << 0x0002;
    QTest::newRow("media-needed-warning") << Idle << R{"media-needed-warning"} << 0x0002;
    QTest::newRow("media-low") << Idle << R{"media-low"} << 0x0010;
    QTest::newRow("media-low-report") << Idle << R{"media-low-report"} << 0x0010;
    QTest::newRow("media-jam-error") << Idle << R{"media-jam-error"} << 0x0100;
    QTest::newRow("standard keywords of one bit")
        << Idle << R{"cover-open", "door-open-warning", "interlock-open-error"} << 0x0001;

    // Other keywords, near misses and case are ignored.
    QTest::newRow("paused") << Idle << R{"paused"} << 0x0000;
    QTest::newRow("other standard keywords")
        << Idle << R{"toner-low-warning", "offline-report", "connecting-to-device", "other"}
        << 0x0000;
    QTest::newRow("unknown suffix")
        << Idle << R{"media-jam-fatal", "com.quorvel-head-up-x"} << 0x0000;
    QTest::newRow("suffix twice") << Idle << R{"media-low-warning-error"} << 0x0000;
    QTest::newRow("suffix without hyphen") << Idle << R{"media-lowwarning"} << 0x0000;
    QTest::newRow("prefix of a keyword")
        << Idle << R{"media", "cover", "com.quorvel-paper"} << 0x0000;
    QTest::newRow("vendor prefix alone") << Idle << R{"com.quorvel-", "com.quorvel"} << 0x0000;
    QTest::newRow("caption with blanks")
        << Idle << R{"com.quorvel-head up", "com.quorvel-Head-Up", "com.quorvel-HEAD-UP"} << 0x0000;
    QTest::newRow("upper case standard") << Idle << R{"Media-Jam", "MEDIA-LOW"} << 0x0000;
    QTest::newRow("other vendor") << Idle << R{"com.example-head-up", "head-up"} << 0x0000;
    QTest::newRow("vendor keyword without prefix") << Idle << R{"paper-out"} << 0x0000;
    QTest::newRow("empty keyword") << Idle << R{""} << 0x0000;

    // A caption ending in a suffix's word is still its own bit, and takes a suffix as well.
    QTest::newRow("cutter-error-error") << Idle << R{"com.quorvel-cutter-error-error"} << 0x1000;
    QTest::newRow("printer-error-warning")
        << Idle << R{"com.quorvel-printer-error-warning"} << 0x0080;
    QTest::newRow("spare is not spare-sensor") << Idle << R{"com.quorvel-spare-report"} << 0x4000;

    // Several reasons give the exact word.
    QTest::newRow("several reasons")
        << Idle
        << R{"com.quorvel-paper-low-warning", "com.quorvel-cutter-home", "media-jam-error",
             "com.quorvel-receipt-taken-report", "toner-low-warning"}
        << 0x0518;
    QTest::newRow("vendor and standard for one bit")
        << Idle << R{"com.quorvel-head-up", "cover-open-error"} << 0x0001;
    QTest::newRow("the same reason twice") << Idle << R{"media-low", "media-low"} << 0x0010;
    QTest::newRow("all sixteen vendor keywords") << Idle << R{"com.quorvel-head-up",
                                                              "com.quorvel-paper-out",
                                                              "com.quorvel-paper-at-delivery",
                                                              "com.quorvel-cutter-home",
                                                              "com.quorvel-paper-low",
                                                              "com.quorvel-spare-sensor",
                                                              "com.quorvel-over-temp",
                                                              "com.quorvel-printer-error",
                                                              "com.quorvel-delivery-jam",
                                                              "com.quorvel-receipt-dropped",
                                                              "com.quorvel-receipt-taken",
                                                              "com.quorvel-printer-busy",
                                                              "com.quorvel-cutter-error",
                                                              "com.quorvel-rx-buffer-full",
                                                              "com.quorvel-spare",
                                                              "com.quorvel-receipt-purged"}
                                                 << 0xFFFF;

    // The state adds its bit to the reasons'.
    QTest::newRow("processing") << Processing << R{"none"} << 0x0800;
    QTest::newRow("processing with reasons")
        << Processing << R{"com.quorvel-rx-buffer-full-warning", "media-low-report"} << 0x2810;
    QTest::newRow("stopped, paused") << Stopped << R{"paused"} << 0x0080;
    QTest::newRow("stopped with reasons")
        << Stopped << R{"paused", "media-empty-error", "com.quorvel-head-up-error"} << 0x0083;
    QTest::newRow("stopped and a printer-error keyword")
        << Stopped << R{"com.quorvel-printer-error"} << 0x0080;
    QTest::newRow("processing and a printer-busy keyword")
        << Processing << R{"com.quorvel-printer-busy-report"} << 0x0800;
    QTest::newRow("unknown state") << 0 << R{"media-low"} << 0x0010;
}

void TestStatusMapping::statusWord()
{
    QFETCH(int, state);
    QFETCH(QList<QByteArray>, reasons);
    QFETCH(int, word);
    const StatusWord result = wordFor(state, reasons);
    QCOMPARE(result, word);
    QCOMPARE(result & ~0xFFFF, 0); // bits 16 to 31 stay 0
}

void TestStatusMapping::stateBits_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("bits");
    QTest::newRow("idle") << Idle << 0x0000;
    QTest::newRow("processing") << Processing << 0x0800;
    QTest::newRow("stopped") << Stopped << 0x0080;
    QTest::newRow("no state") << 0 << 0x0000;
    QTest::newRow("out of range") << 6 << 0x0000;
    QTest::newRow("negative") << -1 << 0x0000;
}

void TestStatusMapping::stateBits()
{
    QFETCH(int, state);
    QFETCH(int, bits);
    QCOMPARE(ravelin::qvlmstat::stateBits(state), bits);
}

QTEST_APPLESS_MAIN(TestStatusMapping)
#include "tst_statusmapping.moc"
