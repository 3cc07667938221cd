// SPDX-License-Identifier: MIT
// The metrics of printers as a scrape reads them: status words to flags and values, from a
// table; label values that the scheduler could spell in any way; printers without a reading yet;
// and the flags the shipped alert rules ask for, which must be flags the metrics have.

#include "exposition.h"
#include "series.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace ravelin::metrics;

namespace {

constexpr auto Lobby = "QVT-7460-Lobby";

PrinterSample reading(std::uint32_t word, bool reachable = true)
{
    PrinterSample printer;
    printer.name = Lobby;
    printer.deviceUri = "socket://127.0.0.1:9100";
    printer.makeAndModel = "Quorvel QVT-7460";
    printer.read = true;
    printer.word = word;
    printer.reachable = reachable;
    return printer;
}

QMap<QString, QString> scrape(const std::vector<PrinterSample> &printers)
{
    return seriesOf(QString::fromStdString(exposition(printers, "2.1.0")));
}

QString flagSeries(const QString &printer, const QString &flag)
{
    return u"ravelin_printer_flag{printer=\"%1\",flag=\"%2\"}"_s.arg(printer, flag);
}

QString printerSeries(const char *metric, const QString &printer = QString::fromLatin1(Lobby))
{
    return u"%1{printer=\"%2\"}"_s.arg(QLatin1StringView(metric), printer);
}

} // namespace

class TestExposition : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void wordsToFlags_data();
    void wordsToFlags();
    void labelValues_data();
    void labelValues();
    void deviceUriSchemes_data();
    void deviceUriSchemes();
    void readingTimesAndRises();
    void printerNotReadYet();
    void printersOnceEachByName();
    void flagsTheAlertRulesAskFor_data();
    void flagsTheAlertRulesAskFor();
};

void TestExposition::wordsToFlags_data()
{
    QTest::addColumn<quint32>("word");
    QTest::addColumn<bool>("reachable");
    QTest::addColumn<QStringList>("set");

    QTest::newRow("all clear") << 0x0000u << true << QStringList();
    QTest::newRow("paper out") << 0x0002u << true << QStringList{u"paper_out"_s};
    QTest::newRow("head up and paper low")
        << 0x0011u << true << QStringList{u"head_up"_s, u"paper_low"_s};
    QTest::newRow("receipt at delivery, busy")
        << 0x0804u << true << QStringList{u"paper_at_delivery"_s, u"printer_busy"_s};
    QTest::newRow("unreachable: Printer Error alone")
        << 0x0080u << false << QStringList{u"printer_error"_s};
    QTest::newRow("every bit") << 0xFFFFu << true << FlagNames;
    QTest::newRow("bits above the sixteen: in the word, no flag")
        << 0x12345u << true
        << QStringList{u"head_up"_s,      u"paper_at_delivery"_s, u"over_temp"_s,
                       u"delivery_jam"_s, u"receipt_dropped"_s,   u"rx_buffer_full"_s};
    QTest::newRow("bit 31: the word unsigned")
        << 0x80001000u << true << QStringList{u"cutter_error"_s};
}

void TestExposition::wordsToFlags()
{
    QFETCH(quint32, word);
    QFETCH(bool, reachable);
    QFETCH(QStringList, set);

    const QMap<QString, QString> series = scrape({reading(word, reachable)});
    const QString lobby = QString::fromLatin1(Lobby);
    QCOMPARE(series.value(u"malformed"_s), QString());
    QCOMPARE(series.value(printerSeries("ravelin_printer_status_word")), QString::number(word));
    QCOMPARE(series.value(printerSeries("ravelin_printer_reachable")), reachable ? u"1"_s : u"0"_s);
    int flags = 0;
    for (const std::string &flag : flagLabels()) {
        const QString label = QString::fromStdString(flag);
        QCOMPARE(series.value(flagSeries(lobby, label)), set.contains(label) ? u"1"_s : u"0"_s);
        ++flags;
    }
    QCOMPARE(flags, 16);
    QCOMPARE(series.value(u"ravelin_monitor_build_info{version=\"2.1.0\"}"_s), u"1"_s);
}

void TestExposition::labelValues_data()
{
    QTest::addColumn<QByteArray>("makeAndModel");
    QTest::addColumn<QString>("written");

    QTest::newRow("plain") << "Quorvel QVT-7460"_ba << u"Quorvel QVT-7460"_s;
    QTest::newRow("non-ASCII kept")
        << "Kasse S\xC3\xBC\x64 \xE2\x82\xAC"_ba << u"Kasse S\u00FCd \u20AC"_s;
    QTest::newRow("quote and backslash escaped")
        << "QVT \"7460\"\\B"_ba << u"QVT \\\"7460\\\"\\\\B"_s;
    QTest::newRow("a byte that is not UTF-8") << "QVT\xFF"
                                                 "7460"_ba
                                              << u"QVT\uFFFD7460"_s;
    QTest::newRow("overlong form of a slash") << "QVT\xC0\xAF"_ba << u"QVT\uFFFD\uFFFD"_s;
    QTest::newRow("surrogate") << "QVT\xED\xA0\x80"_ba << u"QVT\uFFFD\uFFFD\uFFFD"_s;
    QTest::newRow("sequence cut at the end") << "QVT\xE2\x82"_ba << u"QVT\uFFFD\uFFFD"_s;
    QTest::newRow("above U+10FFFF") << "QVT\xF4\x90\x80\x80"_ba << u"QVT\uFFFD\uFFFD\uFFFD\uFFFD"_s;
    QTest::newRow("control characters, a line feed too")
        << "QVT\t7460\r\n\x7F"_ba << u"QVT\uFFFD7460\uFFFD\uFFFD\uFFFD"_s;
}

void TestExposition::labelValues()
{
    QFETCH(QByteArray, makeAndModel);
    QFETCH(QString, written);

    PrinterSample printer = reading(0);
    printer.makeAndModel = makeAndModel.toStdString();
    printer.name = makeAndModel.toStdString();
    const QMap<QString, QString> series = scrape({printer});
    QCOMPARE(series.value(u"ravelin_printer_info{printer=\"%1\",device_uri_scheme=\"socket\","
                          "make_model=\"%1\"}"_s.arg(written)),
             u"1"_s);
    QCOMPARE(series.value(printerSeries("ravelin_printer_status_word", written)), u"0"_s);
}

void TestExposition::deviceUriSchemes_data()
{
    QTest::addColumn<QByteArray>("uri");
    QTest::addColumn<QString>("scheme");

    QTest::newRow("network") << "socket://192.0.2.10:9100"_ba << u"socket"_s;
    QTest::newRow("serial line, options")
        << "serial:/dev/ttyS0?baud=38400+bits=8"_ba << u"serial"_s;
    QTest::newRow("USB, in capitals") << "USB://Quorvel/QVT-7460?serial=1"_ba << u"usb"_s;
    QTest::newRow("device file") << "file:///dev/usb/lp0"_ba << u"file"_s;
    QTest::newRow("plus, dot and hyphen") << "x-a.b+c://h"_ba << u"x-a.b+c"_s;
    QTest::newRow("none") << ""_ba << QString();
    QTest::newRow("a path, no scheme") << "/dev/usb/lp0"_ba << QString();
    QTest::newRow("starts with a digit") << "9100:h"_ba << QString();
    QTest::newRow("a blank in it") << "so cket://h"_ba << QString();
}

void TestExposition::deviceUriSchemes()
{
    QFETCH(QByteArray, uri);
    QFETCH(QString, scheme);

    PrinterSample printer = reading(0);
    printer.deviceUri = uri.toStdString();
    const QMap<QString, QString> series = scrape({printer});
    QCOMPARE(
        series.value(u"ravelin_printer_info{printer=\"%1\",device_uri_scheme=\"%2\","
                     "make_model=\"Quorvel QVT-7460\"}"_s.arg(QLatin1StringView(Lobby), scheme)),
        u"1"_s);
}

void TestExposition::readingTimesAndRises()
{
    PrinterSample printer = reading(0x0002);
    printer.readAt =
        std::chrono::system_clock::time_point(std::chrono::milliseconds(1765432100250));
    printer.readingDuration = std::chrono::microseconds(37500);
    printer.rises[1] = 14;
    printer.rises[15] = 3;
    const std::string text = exposition({printer}, "2.1.0");
    const QMap<QString, QString> series = seriesOf(QString::fromStdString(text));

    QCOMPARE(series.value(printerSeries("ravelin_printer_last_reading_timestamp_seconds")),
             u"1765432100.25"_s);
    QCOMPARE(series.value(printerSeries("ravelin_printer_reading_duration_seconds")), u"0.0375"_s);
    const QString lobby = QString::fromLatin1(Lobby);
    const auto rises = [&](const char *flag) {
        return series.value(u"ravelin_printer_flag_rises_total{printer=\"%1\",flag=\"%2\"}"_s.arg(
            lobby, QLatin1StringView(flag)));
    };
    QCOMPARE(rises("paper_out"), u"14"_s);
    QCOMPARE(rises("receipt_purged"), u"3"_s);
    QCOMPARE(rises("head_up"), u"0"_s);
    QVERIFY(text.find("# TYPE ravelin_printer_flag_rises_total counter\n") != std::string::npos);
    QVERIFY(text.find("# TYPE ravelin_printer_flag gauge\n") != std::string::npos);
}

void TestExposition::printerNotReadYet()
{
    PrinterSample pending = reading(0x0080, false);
    pending.read = false;
    const QMap<QString, QString> series = scrape({pending});

    // Known and counted from zero, and nothing of a reading that has not happened.
    QCOMPARE(series.value(u"ravelin_printer_info{printer=\"%1\",device_uri_scheme=\"socket\","
                          "make_model=\"Quorvel QVT-7460\"}"_s.arg(QLatin1StringView(Lobby))),
             u"1"_s);
    QCOMPARE(
        series.value(u"ravelin_printer_flag_rises_total{printer=\"%1\",flag=\"paper_out\"}"_s.arg(
            QLatin1StringView(Lobby))),
        u"0"_s);
    for (const QString &name : series.keys()) {
        QVERIFY2(name.startsWith(u"ravelin_printer_info") ||
                     name.startsWith(u"ravelin_printer_flag_rises_total") ||
                     name.startsWith(u"ravelin_monitor_build_info"),
                 qPrintable(name));
    }
}

void TestExposition::printersOnceEachByName()
{
    PrinterSample counter = reading(0x0010);
    counter.name = "QVT-7460-Counter";
    PrinterSample again = reading(0x0002);
    PrinterSample nameless = reading(0x0004);
    nameless.name.clear();
    // The first of two with one name is shown; a nameless one is not.
    const std::string text = exposition({reading(0x0001), counter, again, nameless}, "2.1.0");
    const QMap<QString, QString> series = seriesOf(QString::fromStdString(text));

    QCOMPARE(series.value(printerSeries("ravelin_printer_status_word")), u"1"_s);
    QCOMPARE(series.value(printerSeries("ravelin_printer_status_word", u"QVT-7460-Counter"_s)),
             u"16"_s);
    QCOMPARE(series.size(), 1 + 2 * (1 + 16 + 16 + 1 + 1 + 1 + 1));
    // In the order of their names, whatever order the monitor keeps them in.
    QVERIFY(text.find("QVT-7460-Counter") < text.find("QVT-7460-Lobby"));
}

void TestExposition::flagsTheAlertRulesAskFor_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("the alert rules") << QStringLiteral(RAVELIN_ALERT_RULES);
    QTest::newRow("the alert rules' tests") << QStringLiteral(RAVELIN_ALERT_RULE_TESTS);
}

void TestExposition::flagsTheAlertRulesAskFor()
{
    QFETCH(QString, file);

    QFile rules(file);
    QVERIFY2(rules.open(QIODevice::ReadOnly), qPrintable(rules.errorString()));
    const QString text = QString::fromUtf8(rules.readAll());
    static const QRegularExpression flag(uR"re(flag="([^"]*)")re"_s);
    QStringList known;
    for (const std::string &label : flagLabels())
        known << QString::fromStdString(label);
    int asked = 0;
    for (const QRegularExpressionMatch &match : flag.globalMatch(text)) {
        QVERIFY2(known.contains(match.captured(1)), qPrintable(match.captured(0)));
        ++asked;
    }
    QVERIFY(asked >= 7);
}

QTEST_APPLESS_MAIN(TestExposition)
#include "tst_exposition.moc"
