// SPDX-License-Identifier: MIT
#include "statuslistbox.h"

#include <QFont>
#include <QProxyStyle>
#include <QScrollBar>
#include <QStyleFactory>
#include <QStyledItemDelegate>
#include <QTest>

#include <functional>
#include <memory>

using namespace Qt::StringLiterals;
using ravelin::StatusListBox;

namespace {

// A report line with count bit names, so that lines differ in width.
QString line(int count)
{
    QString text = u"3/5/26 2:07:09 PM [0x%1]:  "_s.arg(count, 4, 16, QChar(u'0'));
    for (int i = 0; i < count; ++i)
        text += u"[Paper at Delivery]"_s;
    return text;
}

// Counts the lines the delegate really measures, as opposed to reading a size kept on the item.
class CountingDelegate final : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        if (!index.data(Qt::SizeHintRole).isValid())
            ++measured;
        return QStyledItemDelegate::sizeHint(option, index);
    }
    mutable int measured = 0;
};

// A style that gives item text wider margins than the toolkit's own.
class WideMarginStyle final : public QProxyStyle
{
public:
    WideMarginStyle()
        : QProxyStyle(QStyleFactory::create(u"Fusion"_s))
    {}
    int pixelMetric(PixelMetric metric, const QStyleOption *option,
                    const QWidget *widget) const override
    {
        if (metric == PM_FocusFrameHMargin || metric == PM_FocusFrameVMargin)
            return 12;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

// What the log does for each query: append, select, scroll to it, trim to 99 lines.
void logLine(QListWidget &list, const QString &text)
{
    list.addItem(text);
    list.setCurrentRow(list.count() - 1);
    list.scrollToItem(list.item(list.count() - 1));
    if (list.count() > 99)
        delete list.takeItem(0);
}

using Steps = std::function<void(QListWidget &)>;

} // namespace

Q_DECLARE_METATYPE(Steps)

class TestStatusListBox : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void laysOutAsThePlainList_data();
    void laysOutAsThePlainList();
    void measuresEachLineOnce();
};

void TestStatusListBox::laysOutAsThePlainList_data()
{
    QTest::addColumn<Steps>("steps");

    QTest::newRow("lines narrower than the list") << Steps([](QListWidget &list) {
        for (int count = 0; count < 4; ++count)
            list.addItem(line(count));
    });
    QTest::newRow("one line wider than the list") << Steps([](QListWidget &list) {
        list.addItems({line(1), line(16), line(2)});
    });
    QTest::newRow("the widest line removed") << Steps([](QListWidget &list) {
        list.addItems({line(16), line(1), line(2)});
        list.repaint();
        delete list.takeItem(0);
    });
    QTest::newRow("150 queries logged, trimmed at 99") << Steps([](QListWidget &list) {
        for (int i = 0; i < 150; ++i)
            logLine(list, line(i % 17));
    });
    QTest::newRow("font changed after the lines") << Steps([](QListWidget &list) {
        list.addItems({line(3), line(9)});
        list.repaint();
        QFont larger = list.font();
        larger.setPointSize(larger.pointSize() + 6);
        list.setFont(larger);
    });
    QTest::newRow("style changed after the lines") << Steps([](QListWidget &list) {
        list.addItems({line(3), line(9)});
        list.repaint();
        auto *style = new WideMarginStyle;
        style->setParent(&list);
        list.setStyle(style);
    });
}

// Kept sizes must give the very layout that the toolkit's list gives when it measures every
// line itself: the same place and size for every line and the same scroll ranges.
void TestStatusListBox::laysOutAsThePlainList()
{
    QFETCH(Steps, steps);
    const auto prepare = [&](QListWidget &list) {
        list.setFixedSize(553, 69);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        steps(list);
        QCoreApplication::processEvents();
    };
    QListWidget plain;
    StatusListBox kept;
    prepare(plain);
    prepare(kept);

    QCOMPARE(kept.count(), plain.count());
    for (int row = 0; row < plain.count(); ++row) {
        QCOMPARE(kept.item(row)->text(), plain.item(row)->text());
        QCOMPARE(kept.visualItemRect(kept.item(row)), plain.visualItemRect(plain.item(row)));
    }
    QCOMPARE(kept.horizontalScrollBar()->maximum(), plain.horizontalScrollBar()->maximum());
    QCOMPARE(kept.verticalScrollBar()->maximum(), plain.verticalScrollBar()->maximum());
    QCOMPARE(kept.verticalScrollBar()->value(), plain.verticalScrollBar()->value());
}

void TestStatusListBox::measuresEachLineOnce()
{
    StatusListBox list;
    auto *delegate = new CountingDelegate(&list);
    list.setItemDelegate(delegate);
    list.setFixedSize(553, 69);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));

    for (int i = 0; i < 300; ++i) {
        logLine(list, line(i % 17));
        QCoreApplication::processEvents();
    }
    QCOMPARE(list.count(), 99);
    QCOMPARE(delegate->measured, 300);
}

QTEST_MAIN(TestStatusListBox)
#include "tst_statuslistbox.moc"
