// SPDX-License-Identifier: MIT
#include "form1.h"

#include "installedprinters.h"
#include "pollingperiod.h"
#include "pollingtimer.h"
#include "statuslog.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>

#include <cstdlib>

using namespace Qt::StringLiterals;

namespace ravelin {

namespace {

// The interval presets, in milliseconds, in the order of the list.
const QStringList IntervalPresets = {u"500"_s,   u"1000"_s,  u"2000"_s,  u"3000"_s,
                                     u"4000"_s,  u"5000"_s,  u"10000"_s, u"20000"_s,
                                     u"30000"_s, u"40000"_s, u"50000"_s, u"60000"_s};

// Only the printers of the series are offered.
constexpr char16_t PrinterSeriesMark[] = u"QVT";

} // namespace

Form1::Form1(const InstalledPrinters &printers, StatusLibrary &library, MessageBox &messages,
             const Clock &clock, const QLocale &locale, QWidget *parent)
    : QMainWindow(parent)
    , m_printers(printers)
    , m_messages(messages)
    , m_controls(createForm1Controls(*this))
    , m_indicators(m_controls.chkStatus)
    , m_choice(*m_controls.chkUsePrinterSelected, *m_controls.ComboPrintersList)
    , m_log(*m_controls.ListStatus)
    , m_query(m_indicators, m_choice, messages, library, clock, locale)
    , m_guard(messages)
{
    // Opens in the middle of the screen.
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        adjustSize();
        QRect placed(QPoint(), size());
        placed.moveCenter(screen->availableGeometry().center());
        move(placed.topLeft());
    }

    connect(m_controls.cmdRetreivePrinterStatus, &QPushButton::clicked, this,
            &Form1::cmdRetreivePrinterStatus_Click);
    // A check box's click handler runs once for every change of its state: a click, the space
    // bar, and an assistive technology's Toggle action, which changes the state without a click.
    connect(m_controls.chkUsePrinterSelected, &QCheckBox::toggled, this,
            &Form1::chkUsePrinterSelected_Click);
    connect(m_controls.chkEnableStatusPolling, &QPushButton::toggled, this,
            &Form1::chkEnableStatusPolling_Click);
    connect(m_controls.comboParallelInterval, &QComboBox::activated, this,
            &Form1::comboParallelInterval_Click);
    connect(m_controls.tmrPrinterStatusPoll, &PollingTimer::timeout, this,
            &Form1::tmrPrinterStatusPoll_Timer);
    connect(m_controls.mnuFileAbout, &QAction::triggered, this, &Form1::mnuFileAbout_Click);
    connect(m_controls.mnuFileExit, &QAction::triggered, this, &Form1::mnuFileExit_Click);
    connect(m_controls.cmdExit, &QPushButton::clicked, this, &Form1::cmdExit_Click);
}

QString Form1::RetreivePrinterStatus()
{
    return m_query.RetreivePrinterStatus();
}

QString Form1::UpdateRealTimeStatusBits(StatusWord status)
{
    return m_query.UpdateRealTimeStatusBits(status);
}

void Form1::Form_Load()
{
    m_guard.run([this] {
        LoadPrinterList();
        // The box keeps the text it was designed with, with no entry of the list selected.
        QComboBox &interval = *m_controls.comboParallelInterval;
        const QString text = interval.currentText();
        interval.addItems(IntervalPresets);
        interval.setCurrentIndex(-1);
        interval.setEditText(text);
    });
}

void Form1::LoadPrinterList()
{
    QComboBox &box = *m_controls.ComboPrintersList;
    box.clear();
    box.clearEditText();
    const QStringList names = m_printers.printerNames();
    for (const QString &name : names) {
        if (name.contains(PrinterSeriesMark, Qt::CaseSensitive)) {
            box.addItem(name);
            box.setCurrentIndex(box.count() - 1);
        }
    }
}

void Form1::cmdRetreivePrinterStatus_Click()
{
    m_guard.run([this] { queryAndLog(m_query, m_log); });
}

void Form1::chkUsePrinterSelected_Click()
{
    m_guard.run([this] {
        m_controls.ComboPrintersList->setEnabled(checkBoxValue(*m_controls.chkUsePrinterSelected) ==
                                                 1);
    });
}

void Form1::chkEnableStatusPolling_Click()
{
    m_guard.run([this] {
        PollingTimer &timer = *m_controls.tmrPrinterStatusPoll;
        if (m_controls.chkEnableStatusPolling->isChecked()) {
            timer.setInterval(
                pollingPeriodFromText(m_controls.comboParallelInterval->currentText()));
            timer.setEnabled(true);
        } else {
            timer.setEnabled(false);
        }
    });
}

// Runs for picks from the interval list only; typing in the box does not run it.
void Form1::comboParallelInterval_Click()
{
    m_guard.run([this] {
        PollingTimer &timer = *m_controls.tmrPrinterStatusPoll;
        if (timer.isEnabled())
            timer.setInterval(
                pollingPeriodFromText(m_controls.comboParallelInterval->currentText()));
    });
}

void Form1::tmrPrinterStatusPoll_Timer()
{
    m_guard.run([this] {
        // A tick that falls due while one of the program's message boxes is open is dropped:
        // it would otherwise query behind the box's back, or open a second box over it.
        if (QApplication::activeModalWidget())
            return;
        queryAndLog(m_query, m_log);
    });
}

QString Form1::aboutText()
{
    return QStringList{
        u"  Quorvel QVT-7400 Series Printer Language Monitor Demo."_s,
        u"                       Version 2.1"_s,
        QString(),
        u"This Demo requests printer status from the QVT-7400 Series "_s,
        u"Printers using the Quorvel Printer Status Language Monitor."_s,
    }
        .join(u"\r\n"_s);
}

void Form1::mnuFileAbout_Click()
{
    m_guard.run([this] {
        m_messages.show(aboutText(), MessageBox::Icon::None, QString::fromUtf16(ApplicationTitle));
    });
}

void Form1::mnuFileExit_Click()
{
    m_guard.run([this] { endProgram(); });
}

void Form1::cmdExit_Click()
{
    m_guard.run([this] { endProgram(); });
}

// Ends the program at once: no question, nothing to save. Polling stops here, so no tick that
// is already due runs while the event loop winds down.
void Form1::endProgram()
{
    m_controls.tmrPrinterStatusPoll->setEnabled(false);
    QCoreApplication::exit(EXIT_SUCCESS);
}

} // namespace ravelin
