// SPDX-License-Identifier: MIT
#include "statuslistbox.h"

#include <QAccessible>
#include <QCheckBox>
#include <QFont>
#include <QProxyStyle>
#include <QScrollBar>
#include <QStyleFactory>
#include <QStyledItemDelegate>
#include <QTest>
#include <QVBoxLayout>
#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

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

// What assistive technology is told about one object, as the platform's bridge to it would
// receive it: each notice's type, the child it names, and for a change of rows the rows.
struct Notice
{
    QAccessible::Event type;
    int child;
    QAccessibleTableModelChangeEvent::ModelChangeType change;
    int firstRow;
};

class NoticeRecorder
{
public:
    explicit NoticeRecorder(const QObject *watched)
    {
        s_watched = watched;
        s_notices.clear();
        QAccessible::installUpdateHandler(&NoticeRecorder::record);
        if (QPlatformAccessibility *bridge = accessibility())
            bridge->setActive(true);
    }
    ~NoticeRecorder()
    {
        if (QPlatformAccessibility *bridge = accessibility())
            bridge->setActive(false);
        QAccessible::installUpdateHandler(nullptr);
        s_watched = nullptr;
    }
    NoticeRecorder(const NoticeRecorder &) = delete;
    NoticeRecorder &operator=(const NoticeRecorder &) = delete;

    // Notices reach an update handler only while the platform says assistive technology is
    // listening: a screen reader is running.
    static bool listening() { return QAccessible::isActive(); }
    QList<Notice> notices(QAccessible::Event type) const
    {
        QList<Notice> found;
        for (const Notice &notice : std::as_const(s_notices)) {
            if (notice.type == type)
                found << notice;
        }
        return found;
    }
    void clear() { s_notices.clear(); }

private:
    static QPlatformAccessibility *accessibility()
    {
        QPlatformIntegration *platform = QGuiApplicationPrivate::platformIntegration();
        return platform ? platform->accessibility() : nullptr;
    }
    static void record(QAccessibleEvent *event)
    {
        if (event->object() != s_watched)
            return;
        Notice notice{event->type(), event->child(), QAccessibleTableModelChangeEvent::DataChanged,
                      -1};
        if (event->type() == QAccessible::TableModelChanged) {
            const auto *change = static_cast<const QAccessibleTableModelChangeEvent *>(event);
            notice.change = change->modelChangeType();
            notice.firstRow = change->lastRow() == change->firstRow() ? change->firstRow() : -2;
        }
        s_notices << notice;
    }

    static inline const QObject *s_watched = nullptr;
    static inline QList<Notice> s_notices;
};

} // namespace

Q_DECLARE_METATYPE(Steps)

class TestStatusListBox : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void laysOutAsThePlainList_data();
    void laysOutAsThePlainList();
    void measuresEachLineOnce();
    void screenReaderHearsEachLineOnce_data();
    void screenReaderHearsEachLineOnce();
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

void TestStatusListBox::screenReaderHearsEachLineOnce_data()
{
    QTest::addColumn<bool>("logHasFocus");
    QTest::newRow("keyboard focus elsewhere: no focus moves") << false;
    QTest::newRow("keyboard focus in the log: the focus follows the newest line") << true;
}

// Each query adds a line, selects it and makes it the current one, and trims the log to 99
// lines. Assistive technology hears of each new line once, as a row inserted; it hears of focus
// moves only while the log has the keyboard focus.
void TestStatusListBox::screenReaderHearsEachLineOnce()
{
    QFETCH(bool, logHasFocus);

    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *elsewhere = new QCheckBox(u"Paper Low"_s);
    auto *list = new StatusListBox;
    layout->addWidget(elsewhere);
    layout->addWidget(list);
    list->setFixedSize(553, 69);
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    (logHasFocus ? static_cast<QWidget *>(list) : elsewhere)->setFocus(Qt::TabFocusReason);
    QCOMPARE(list->hasFocus(), logHasFocus);

    NoticeRecorder recorder(list);
    if (!NoticeRecorder::listening())
        QSKIP("This platform does not let a test stand in for assistive technology");
    constexpr int Queries = 120;
    for (int i = 0; i < Queries; ++i) {
        logLine(*list, line(i % 17));
        QCoreApplication::processEvents();
    }
    QCOMPARE(list->count(), 99);

    // Each line where it was added: at the end, the 100th before the oldest goes.
    QList<int> rows;
    for (int i = 0; i < Queries; ++i)
        rows << std::min(i, 99);
    QList<int> focused;
    for (const Notice &notice : recorder.notices(QAccessible::Focus))
        focused << notice.child;
    QCOMPARE(focused, logHasFocus ? rows : QList<int>());
    QList<int> inserted;
    QList<int> changed;
    for (const Notice &notice : recorder.notices(QAccessible::TableModelChanged)) {
        if (notice.change == QAccessibleTableModelChangeEvent::RowsInserted)
            inserted << notice.firstRow;
        else if (notice.change == QAccessibleTableModelChangeEvent::DataChanged)
            changed << notice.firstRow;
    }
    QCOMPARE(inserted, rows);
    // A line never changes once it is in the log.
    QCOMPARE(changed, QList<int>());
}

QTEST_MAIN(TestStatusListBox)
#include "tst_statuslistbox.moc"
