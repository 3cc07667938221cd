// SPDX-License-Identifier: MIT
// Which connection a queue's device URI names, from a table: the forms the scheduler's backends
// use, percent-encoding, and URIs that must give no connection at all rather than a wrong one.

#include "deviceuri.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace ravelin::qvlmstat;

namespace {

QString serial(const QString &path, speed_t speed, int bits, const char *parity, const char *flow)
{
    return u"serial %1 speed %2 bits %3 parity %4 flow %5"_s.arg(path).arg(speed).arg(bits).arg(
        QLatin1StringView(parity), QLatin1StringView(flow));
}

QString describe(const DeviceUri &device)
{
    if (const auto *network = std::get_if<NetworkDevice>(&device))
        return u"network %1 %2"_s.arg(QString::fromStdString(network->host)).arg(network->port);
    if (const auto *line = std::get_if<SerialDevice>(&device)) {
        static const char *const parities[] = {"none", "even", "odd"};
        static const char *const flows[] = {"none", "soft", "hard", "dtrdsr"};
        return serial(QString::fromStdString(line->path), line->speed, line->bits,
                      parities[int(line->parity)], flows[int(line->flow)]);
    }
    if (const auto *file = std::get_if<DeviceFile>(&device))
        return u"file "_s + QString::fromStdString(file->path);
    if (std::holds_alternative<Unreadable>(device))
        return u"unreadable"_s;
    return u"not asked"_s;
}

} // namespace

class TestDeviceUri : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parse_data();
    void parse();
};

void TestDeviceUri::parse_data()
{
    QTest::addColumn<QByteArray>("uri");
    QTest::addColumn<QString>("expected");

    // Network printers.
    QTest::newRow("socket, port given")
        << "socket://192.0.2.10:9101"_ba << u"network 192.0.2.10 9101"_s;
    QTest::newRow("socket, port 9100 by default")
        << "socket://printer.example"_ba << u"network printer.example 9100"_s;
    QTest::newRow("socket, IPv6") << "socket://[2001:db8::7]:9100"_ba
                                  << u"network 2001:db8::7 9100"_s;
    QTest::newRow("socket, scheme in capitals, encoded host, options")
        << "SOCKET://front%2Dqvt:9100/?contimeout=30"_ba << u"network front-qvt 9100"_s;
    QTest::newRow("socket, port 0") << "socket://h:0"_ba << u"unreadable"_s;
    QTest::newRow("socket, port too large") << "socket://h:65536"_ba << u"unreadable"_s;
    QTest::newRow("socket, port not a number") << "socket://h:91a0"_ba << u"unreadable"_s;
    QTest::newRow("socket, no host") << "socket://:9100"_ba << u"unreadable"_s;
    QTest::newRow("socket, no authority") << "socket:/h"_ba << u"unreadable"_s;
    QTest::newRow("socket, open bracket") << "socket://[::1"_ba << u"unreadable"_s;
    QTest::newRow("socket, user") << "socket://user@h:9100"_ba << u"unreadable"_s;
    QTest::newRow("socket, encoded NUL") << "socket://h%00x"_ba << u"unreadable"_s;

    // Serial lines.
    QTest::newRow("serial, every setting")
        << "serial:/dev/ttyS0?baud=115200+bits=7+parity=even+flow=hard"_ba
        << serial(u"/dev/ttyS0"_s, B115200, 7, "even", "hard");
    QTest::newRow("serial, defaults")
        << "serial:/dev/ttyUSB0"_ba << serial(u"/dev/ttyUSB0"_s, B9600, 8, "none", "none");
    QTest::newRow("serial, three slashes, encoded, ampersands")
        << "serial:///dev/tty%53%31?baud=19200&parity=ODD&flow=dtrdsr"_ba
        << serial(u"/dev/ttyS1"_s, B19200, 8, "odd", "dtrdsr");
    QTest::newRow("serial, soft flow control")
        << "serial:/dev/ttyS0?baud=38400+flow=soft"_ba
        << serial(u"/dev/ttyS0"_s, B38400, 8, "none", "soft");
    QTest::newRow("serial, an option for the backend only")
        << "serial:/dev/ttyS0?baud=9600+stop=2"_ba
        << serial(u"/dev/ttyS0"_s, B9600, 8, "none", "none");
    QTest::newRow("serial, baud no line runs at")
        << "serial:/dev/ttyS0?baud=12345"_ba << u"unreadable"_s;
    QTest::newRow("serial, baud negative") << "serial:/dev/ttyS0?baud=-9600"_ba << u"unreadable"_s;
    QTest::newRow("serial, baud too large")
        << "serial:/dev/ttyS0?baud=99999999999999999999"_ba << u"unreadable"_s;
    QTest::newRow("serial, nine bits") << "serial:/dev/ttyS0?bits=9"_ba << u"unreadable"_s;
    QTest::newRow("serial, mark parity") << "serial:/dev/ttyS0?parity=mark"_ba << u"unreadable"_s;
    QTest::newRow("serial, unknown flow control")
        << "serial:/dev/ttyS0?flow=maybe"_ba << u"unreadable"_s;
    QTest::newRow("serial, relative path") << "serial:ttyS0?baud=9600"_ba << u"unreadable"_s;
    QTest::newRow("serial, broken escape") << "serial:/dev/tty%5?baud=9600"_ba << u"unreadable"_s;

    // Device files.
    QTest::newRow("file, three slashes") << "file:///dev/usb/lp0"_ba << u"file /dev/usb/lp0"_s;
    QTest::newRow("file, one slash") << "file:/dev/usb/lp0"_ba << u"file /dev/usb/lp0"_s;
    QTest::newRow("file, localhost") << "file://localhost/dev/usb/lp0"_ba << u"file /dev/usb/lp0"_s;
    QTest::newRow("file, encoded") << "file:///dev/usb%2Flp%30"_ba << u"file /dev/usb/lp0"_s;
    QTest::newRow("parallel") << "parallel:/dev/lp0"_ba << u"file /dev/lp0"_s;
    QTest::newRow("file, another host") << "file://elsewhere/dev/lp0"_ba << u"unreadable"_s;
    QTest::newRow("file, relative path") << "file:dev/lp0"_ba << u"unreadable"_s;
    QTest::newRow("file, encoded NUL") << "file:/dev/lp0%00.txt"_ba << u"unreadable"_s;
    QTest::newRow("file, escape cut short") << "file:/dev/lp%3"_ba << u"unreadable"_s;

    // Connections the library never makes.
    QTest::newRow("ipp") << "ipp://192.0.2.10/ipp/print"_ba << u"not asked"_s;
    QTest::newRow("usb backend") << "usb://Quorvel/QVT-7460?serial=1234"_ba << u"not asked"_s;
    QTest::newRow("a scheme that begins like one") << "socketx://h:9100"_ba << u"not asked"_s;
    QTest::newRow("no scheme") << "/dev/usb/lp0"_ba << u"not asked"_s;
    QTest::newRow("empty") << QByteArray() << u"not asked"_s;
}

void TestDeviceUri::parse()
{
    QFETCH(QByteArray, uri);
    QFETCH(QString, expected);
    QCOMPARE(describe(parseDeviceUri(std::string_view(uri.constData(), size_t(uri.size())))),
             expected);
}

QTEST_APPLESS_MAIN(TestDeviceUri)
#include "tst_deviceuri.moc"
