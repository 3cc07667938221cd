// SPDX-License-Identifier: MIT
#pragma once

#include "controlbindings.h"
#include "failureguard.h"
#include "form1design.h"
#include "statusquery.h"

#include <QLocale>
#include <QMainWindow>

namespace ravelin {

class InstalledPrinters;

// The program's one window. It holds no values of its own: every setting and every result lives
// in one of its controls, and each handler reads what it needs from them when it runs. Every
// handler runs through the failure guard, so a missing status library ends the program with a
// message instead of going unnoticed.
class Form1 : public QMainWindow
{
    Q_OBJECT

public:
    Form1(const InstalledPrinters &printers, StatusLibrary &library, MessageBox &messages,
          const Clock &clock, const QLocale &locale, QWidget *parent = nullptr);

    // The window's public operations.
    QString RetreivePrinterStatus();
    QString UpdateRealTimeStatusBits(StatusWord status);

    // Prepares the printer box and the interval box; the program calls it once, after
    // constructing the window and before showing it.
    void Form_Load();

    void cmdRetreivePrinterStatus_Click();
    void chkUsePrinterSelected_Click();
    void chkEnableStatusPolling_Click();
    void comboParallelInterval_Click();
    void tmrPrinterStatusPoll_Timer();
    void mnuFileAbout_Click();
    void mnuFileExit_Click();
    void cmdExit_Click();

    // The About text: five lines joined by CR LF.
    static QString aboutText();

private:
    void LoadPrinterList();
    void endProgram();

    const InstalledPrinters &m_printers;
    MessageBox &m_messages;
    const Form1Controls m_controls;
    CheckBoxIndicators m_indicators;
    PrinterBoxChoice m_choice;
    ListBoxLog m_log;
    StatusQuery m_query;
    FailureGuard m_guard;
};

} // namespace ravelin
