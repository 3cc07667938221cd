// SPDX-License-Identifier: MIT
// The print system's names for USB printers, from tables: a printer's URI built from its device
// ID and strings and encoded as libcups encodes it, queue URIs read back, the comparison that
// tells two printers of one model apart by serial number, and device IDs as printers send them.

#include "usburi.h"

#include <cups/cups.h>

#include <QTest>

using namespace Qt::StringLiterals;
using namespace ravelin::usbprinter;

namespace {

QString describe(const std::optional<UsbUri> &uri)
{
    if (!uri)
        return u"unreadable"_s;
    return u"make [%1] model [%2] serial %3 interface %4"_s.arg(
        QString::fromStdString(uri->make), QString::fromStdString(uri->model),
        uri->serial ? u"["_s + QString::fromStdString(*uri->serial) + u"]"_s : u"none"_s,
        uri->interface ? QString::number(*uri->interface) : u"none"_s);
}

UsbUri uri(const char *make, const char *model, std::optional<std::string> serial = {},
           std::optional<unsigned> interface = {})
{
    return {make, model, std::move(serial), interface};
}

} // namespace

class TestUsbUri : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void encodedAsThePrintSystemEncodes_data();
    void encodedAsThePrintSystemEncodes();
    void parse_data();
    void parse();
    void compare_data();
    void compare();
    void printerUri_data();
    void printerUri();
    void deviceIdText_data();
    void deviceIdText();
};

void TestUsbUri::encodedAsThePrintSystemEncodes_data()
{
    QTest::addColumn<QByteArray>("make");
    QTest::addColumn<QByteArray>("model");
    QTest::addColumn<QByteArray>("serial");

    QTest::newRow("plain") << "Quorvel"_ba
                           << "QVT-7460"_ba
                           << "A1B2C3"_ba;
    QTest::newRow("blanks") << "Quorvel Inc"_ba
                            << "QVT 7460 II"_ba
                            << "A1 B2"_ba;
    QTest::newRow("reserved characters") << "a\"#/<>?@[\\]^`{|}z"_ba
                                         << "m\"#/<>?@[\\]^`{|}&=z"_ba
                                         << "s\"#<>@[\\]^`{|}=z"_ba;
    QTest::newRow("percent and controls") << "100%\t"_ba
                                          << "x%41\x01"_ba
                                          << "\x7f%"_ba;
    QTest::newRow("beyond ASCII") << "M\xc3\xa4ker"_ba
                                  << "\xe2\x82\xac-1"_ba
                                  << "\xff"_ba;
    QTest::newRow("a make the print system takes for an IPv6 address") << "fe80:A::1"_ba
                                                                       << "M"_ba
                                                                       << "S"_ba;
    QTest::newRow("the same with a zone") << "1:2%e t/h:%"_ba
                                          << "M"_ba
                                          << "S"_ba;
    QTest::newRow("a colon in a make that is no address") << "1.2:3"_ba
                                                          << "M"_ba
                                                          << "S"_ba;
    QTest::newRow("every other printable") << "!$&'()*+,-.0:;=AZ_az~"_ba
                                           << "!$'()*+,-.:;@AZ_az~"_ba
                                           << "!$'()*+,-./:;?AZ_az~"_ba;
}

void TestUsbUri::encodedAsThePrintSystemEncodes()
{
    QFETCH(QByteArray, make);
    QFETCH(QByteArray, model);
    QFETCH(QByteArray, serial);

    char expected[1024];
    QCOMPARE(httpAssembleURIf(HTTP_URI_CODING_ALL, expected, sizeof expected, "usb", nullptr,
                              make.constData(), 0, "/%s?serial=%s", model.constData(),
                              serial.constData()),
             HTTP_URI_STATUS_OK);
    const UsbUri parts = uri(make.constData(), model.constData(), serial.toStdString());
    const std::string ours = usbUriText(parts);
    QCOMPARE(QByteArray::fromStdString(ours), QByteArray(expected));
    // And read back, where nothing in the model or serial number looks like an option.
    if (!model.contains("?serial=") && !serial.contains("&interface=") && !make.contains('+'))
        QCOMPARE(describe(parseUsbUri(ours)), describe(parts));
}

void TestUsbUri::parse_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("serial") << "usb://Quorvel/QVT-7460?serial=A1B2C3"_ba
                            << describe(uri("Quorvel", "QVT-7460", "A1B2C3"));
    QTest::newRow("serial and interface") << "usb://Quorvel/QVT-7460?serial=A1B2C3&interface=1"_ba
                                          << describe(uri("Quorvel", "QVT-7460", "A1B2C3", 1));
    QTest::newRow("interface alone")
        << "usb://Quorvel/QVT-7460?interface=2"_ba << describe(uri("Quorvel", "QVT-7460", {}, 2));
    QTest::newRow("neither") << "usb://Quorvel/QVT-7460"_ba << describe(uri("Quorvel", "QVT-7460"));
    QTest::newRow("scheme in capitals, encoded") << "USB://Quor%20vel/QVT%207460?serial=%C3%A41"_ba
                                                 << describe(uri("Quor vel", "QVT 7460",
                                                                 "\xc3\xa4"
                                                                 "1"));
    QTest::newRow("a question mark and an ampersand kept in the model and serial number")
        << "usb://Q/Model?x&y?serial=a&b&interface=3"_ba
        << describe(uri("Q", "Model?x&y", "a&b", 3));
    QTest::newRow("empty serial number") << "usb://Q/M?serial="_ba << describe(uri("Q", "M", ""));
    QTest::newRow("another scheme") << "socket://Quorvel/QVT-7460"_ba << u"unreadable"_s;
    QTest::newRow("no make") << "usb:///QVT-7460"_ba << u"unreadable"_s;
    QTest::newRow("no model folder") << "usb://Quorvel"_ba << u"unreadable"_s;
    QTest::newRow("broken escape") << "usb://Quorvel/QVT%2"_ba << u"unreadable"_s;
    QTest::newRow("encoded NUL") << "usb://Quorvel/QVT?serial=A%00"_ba << u"unreadable"_s;
    QTest::newRow("interface not a number")
        << "usb://Quorvel/QVT?serial=A&interface=one"_ba << u"unreadable"_s;
    QTest::newRow("interface too large") << "usb://Quorvel/QVT?interface=256"_ba << u"unreadable"_s;
}

void TestUsbUri::parse()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, expected);
    QCOMPARE(describe(parseUsbUri(text.toStdString())), expected);
}

void TestUsbUri::compare_data()
{
    QTest::addColumn<QByteArray>("queue");
    QTest::addColumn<bool>("same");

    // The printer: usb://Quorvel/QVT-7460?serial=A1B2C3&interface=1
    QTest::newRow("the same") << "usb://Quorvel/QVT-7460?serial=A1B2C3&interface=1"_ba << true;
    QTest::newRow("same model, another serial number")
        << "usb://Quorvel/QVT-7460?serial=Z9Y8X7&interface=1"_ba << false;
    QTest::newRow("no serial number in the queue's URI")
        << "usb://Quorvel/QVT-7460?interface=1"_ba << true;
    QTest::newRow("no interface in the queue's URI")
        << "usb://Quorvel/QVT-7460?serial=A1B2C3"_ba << true;
    QTest::newRow("another interface")
        << "usb://Quorvel/QVT-7460?serial=A1B2C3&interface=0"_ba << false;
    QTest::newRow("another model") << "usb://Quorvel/QVT-7461?serial=A1B2C3"_ba << false;
    QTest::newRow("another make") << "usb://Quorvell/QVT-7460?serial=A1B2C3"_ba << false;
    QTest::newRow("the make in other case") << "usb://quorvel/QVT-7460?serial=A1B2C3"_ba << false;
    QTest::newRow("escapes written differently")
        << "usb://Quorvel/QVT%2d7460?serial=A1B2C3"_ba << true;
}

void TestUsbUri::compare()
{
    QFETCH(QByteArray, queue);
    QFETCH(bool, same);
    const std::optional<UsbUri> parsed = parseUsbUri(queue.toStdString());
    QVERIFY(parsed);
    QCOMPARE(sameDevice(*parsed, uri("Quorvel", "QVT-7460", "A1B2C3", 1)), same);
}

void TestUsbUri::printerUri_data()
{
    QTest::addColumn<QByteArray>("deviceId");
    QTest::addColumn<QByteArray>("strings"); // manufacturer|product|serial
    QTest::addColumn<unsigned>("interface");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("device ID and serial string")
        << "MFG:Quorvel;MDL:QVT-7460;CMD:ESC/POS;"_ba
        << "Quorvel Ltd|QVT Printer|A1B2C3"_ba << 0u << "usb://Quorvel/QVT-7460?serial=A1B2C3"_ba;
    QTest::newRow("long keys, any case, blanks around")
        << "manufacturer: Quorvel ; Model :QVT-7460;"_ba
        << "||A1"_ba << 0u << "usb://Quorvel/QVT-7460?serial=A1"_ba;
    QTest::newRow("short keys before long ones")
        << "MANUFACTURER:Long;MFG:Short;MODEL:LongModel;MDL:ShortModel;"_ba
        << "||"_ba << 0u << "usb://Short/ShortModel"_ba;
    QTest::newRow("strings where the device ID is silent")
        << "CMD:ESC/POS;MDL:;"_ba
        << "Quorvel|QVT-7460|S1"_ba << 0u << "usb://Quorvel/QVT-7460?serial=S1"_ba;
    QTest::newRow("serial number from the device ID, in its order of keys")
        << "MFG:Q;MDL:M;SN:3;SERN:2;SERIALNUMBER:1;"_ba
        << "||"_ba << 0u << "usb://Q/M?serial=1"_ba;
    QTest::newRow("the serial string before the device ID's")
        << "MFG:Q;MDL:M;SN:fromid;"_ba
        << "||fromstring"_ba << 0u << "usb://Q/M?serial=fromstring"_ba;
    QTest::newRow("another interface") << "MFG:Q;MDL:M;"_ba
                                       << "||S"_ba << 1u << "usb://Q/M?serial=S&interface=1"_ba;
    QTest::newRow("another interface, no serial number")
        << "MFG:Q;MDL:M;"_ba
        << "||"_ba << 2u << "usb://Q/M?interface=2"_ba;
    QTest::newRow("nothing known") << ""_ba
                                   << "||"_ba << 0u << "usb://Unknown/Unknown"_ba;
    QTest::newRow("blanks encoded")
        << "MFG:Quorvel Inc;MDL:QVT 7460;"_ba
        << "||A 1"_ba << 0u << "usb://Quorvel%20Inc/QVT%207460?serial=A%201"_ba;
}

void TestUsbUri::printerUri()
{
    QFETCH(QByteArray, deviceId);
    QFETCH(QByteArray, strings);
    QFETCH(unsigned, interface);
    QFETCH(QByteArray, expected);

    const QList<QByteArray> parts = strings.split('|');
    const UsbStrings usb{parts[0].toStdString(), parts[1].toStdString(), parts[2].toStdString()};
    const std::string text =
        usbUriText(ravelin::usbprinter::printerUri(deviceId.toStdString(), usb, interface));
    QCOMPARE(QByteArray::fromStdString(text), expected);
}

void TestUsbUri::deviceIdText_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("big-endian length") << "\x00\x08MFG:Q;xx"_ba
                                       << "MFG:Q;"_ba;
    QTest::newRow("little-endian length") << "\x08\x00MFG:Q;xx"_ba
                                          << "MFG:Q;"_ba;
    QTest::newRow("length beyond what came") << "\x01\x00MFG:Q;"_ba
                                             << "MFG:Q;"_ba;
    QTest::newRow("ends at a NUL") << "\x00\x0aMFG\0:Q;"_ba
                                   << "MFG"_ba;
    QTest::newRow("length alone") << "\x00\x02"_ba
                                  << ""_ba;
    QTest::newRow("one byte") << "\x00"_ba
                              << ""_ba;
}

void TestUsbUri::deviceIdText()
{
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, expected);
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(answer.constData());
    const std::string text = ravelin::usbprinter::deviceIdText({bytes, size_t(answer.size())});
    QCOMPARE(QByteArray::fromStdString(text), expected);
}

QTEST_APPLESS_MAIN(TestUsbUri)
#include "tst_usburi.moc"
