// SPDX-License-Identifier: MIT
#pragma once

#include "fakes.h"
#include "form1.h"
#include "statuslibrary.h"

#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>

using namespace Qt::StringLiterals;

inline const QDateTime When(QDate(2026, 3, 5), QTime(14, 7, 9));
inline const QLocale UsEnglish(QLocale::English, QLocale::UnitedStates);
// The report line's time, as that clock and locale give it.
inline const QString Time = u"3/5/26 2:07:09 PM"_s;

// The window as the program opens it, over a fixed printer list, a status library double, a
// message box that records, a clock and a fixed locale. The window's tests and the benchmarks
// share it. The clock stands at When, unless the system's is asked for: the benchmarks take it,
// so that each report line costs what the program's does.
struct WindowRig
{
    enum class Timing { Fixed, System };

    explicit WindowRig(QStringList installed = {},
                       QStringList libraryCandidates = {QString::fromUtf8(STATUS_DOUBLE_PATH)},
                       Timing timing = Timing::Fixed)
        : printers(std::move(installed))
        , library(std::move(libraryCandidates))
        , window(printers, library, messages,
                 timing == Timing::System ? static_cast<const ravelin::Clock &>(systemClock)
                                          : clock,
                 locale)
    {}

    template <typename T = QWidget> T *control(const QString &name) const
    {
        auto *found = window.findChild<T *>(name);
        if (!found)
            qFatal("No control %s", qPrintable(name));
        return found;
    }
    QCheckBox *indicator(int bit) const { return control<QCheckBox>(u"chkStatus_%1"_s.arg(bit)); }
    QList<int> checkedIndicators() const
    {
        QList<int> checked;
        for (int bit = 0; bit < ravelin::StatusBitCount; ++bit) {
            if (indicator(bit)->isChecked())
                checked.append(bit);
        }
        return checked;
    }
    QStringList logLines() const
    {
        const auto *list = control<QListWidget>(u"ListStatus"_s);
        QStringList lines;
        for (int row = 0; row < list->count(); ++row)
            lines.append(list->item(row)->text());
        return lines;
    }
    QStringList items(const QString &comboBox) const
    {
        const auto *box = control<QComboBox>(comboBox);
        QStringList texts;
        for (int i = 0; i < box->count(); ++i)
            texts.append(box->itemText(i));
        return texts;
    }
    void query() const { control<QPushButton>(u"cmdRetreivePrinterStatus"_s)->click(); }

    FixedPrinters printers;
    ravelin::StatusLibrary library;
    RecordingMessageBox messages;
    FixedClock clock{When};
    const ravelin::SystemClock systemClock;
    const QLocale locale = UsEnglish;
    ravelin::Form1 window;
};
