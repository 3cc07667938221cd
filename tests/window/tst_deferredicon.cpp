// SPDX-License-Identifier: MIT
#include "deferredicon.h"

#include <QPainter>
#include <QTest>

#include <functional>

using Use = std::function<bool(const QIcon &)>;
Q_DECLARE_METATYPE(Use)

// An icon read on first use: read once, and then the icon read at every size, ratio and mode.
class TestDeferredIcon : public QObject
{
    Q_OBJECT

public:
    // On a screen of ratio 2, where QIcon asks its engine for sizes in device pixels.
    static void initMain() { qputenv("QT_SCALE_FACTOR", "2"); }

private Q_SLOTS:
    void readsOnceWhenFirstUsed_data();
    void readsOnceWhenFirstUsed();
    void answersAsTheIconRead_data();
    void answersAsTheIconRead();

private:
    // Two sizes in two colours, and a picture of its own for the disabled mode.
    static QIcon twoSizes()
    {
        QIcon icon;
        for (const auto &[size, colour, mode] :
             {std::tuple{16, Qt::red, QIcon::Normal}, std::tuple{32, Qt::blue, QIcon::Normal},
              std::tuple{16, Qt::gray, QIcon::Disabled}}) {
            QPixmap pixmap(size, size);
            pixmap.fill(colour);
            icon.addPixmap(pixmap, mode);
        }
        return icon;
    }

    static QImage painted(const QIcon &icon, const QSize &size, qreal ratio)
    {
        QImage image(size * ratio, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        icon.paint(&painter, QRect(QPoint(), size));
        return image;
    }
};

void TestDeferredIcon::readsOnceWhenFirstUsed_data()
{
    // Each use answers as an icon that holds pictures only if the icon was read for it.
    QTest::addColumn<Use>("use");
    QTest::addRow("is null") << Use([](const QIcon &icon) { return !icon.isNull(); });
    QTest::addRow("sizes") << Use(
        [](const QIcon &icon) { return !icon.availableSizes().isEmpty(); });
    QTest::addRow("actual size") << Use(
        [](const QIcon &icon) { return icon.actualSize(QSize(16, 16)).isValid(); });
    QTest::addRow("pixmap") << Use([](const QIcon &icon) { return !icon.pixmap(16).isNull(); });
    QTest::addRow("paint") << Use([](const QIcon &icon) {
        return painted(icon, QSize(16, 16), 2.0).pixelColor(0, 0).alpha() == 255;
    });
}

void TestDeferredIcon::readsOnceWhenFirstUsed()
{
    QFETCH(Use, use);
    int reads = 0;
    const QIcon icon(new ravelin::DeferredIconEngine([&reads] {
        ++reads;
        return twoSizes();
    }));
    const QIcon copy = icon;
    QCOMPARE(reads, 0);

    QVERIFY(use(copy));
    QCOMPARE(reads, 1);
    QVERIFY(use(icon));
    QCOMPARE(reads, 1);
}

void TestDeferredIcon::answersAsTheIconRead_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<qreal>("ratio");
    QTest::addColumn<QIcon::Mode>("mode");
    for (int size : {8, 20, 32, 40}) {
        for (qreal ratio : {1.0, 1.5, 2.0}) {
            QTest::addRow("%d px at %.1f", size, ratio)
                << QSize(size, size) << ratio << QIcon::Normal;
            QTest::addRow("%d px at %.1f, disabled", size, ratio)
                << QSize(size, size) << ratio << QIcon::Disabled;
        }
    }
}

void TestDeferredIcon::answersAsTheIconRead()
{
    QFETCH(QSize, size);
    QFETCH(qreal, ratio);
    QFETCH(QIcon::Mode, mode);
    const QIcon icon(new ravelin::DeferredIconEngine(twoSizes));
    const QIcon read = twoSizes();

    const QPixmap pixmap = icon.pixmap(size, ratio, mode);
    QCOMPARE(pixmap.devicePixelRatio(), read.pixmap(size, ratio, mode).devicePixelRatio());
    QCOMPARE(pixmap.toImage(), read.pixmap(size, ratio, mode).toImage());
    QCOMPARE(icon.actualSize(size, mode), read.actualSize(size, mode));
    QCOMPARE(icon.availableSizes(mode), read.availableSizes(mode));
    QCOMPARE(painted(icon, size, ratio), painted(read, size, ratio));
}

QTEST_MAIN(TestDeferredIcon)
#include "tst_deferredicon.moc"
