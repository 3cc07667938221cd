// SPDX-License-Identifier: MIT
#pragma once

#include "statuslog.h"
#include "statusquery.h"
#include "statusword.h"

#include <array>

class QCheckBox;
class QComboBox;
class QListWidget;

namespace ravelin {

// The window's controls seen as what the status core works with. They hold nothing but the
// controls: every value is read from and written to a control when it is asked for.

// The sixteen chkStatus check boxes as the status indicator set.
class CheckBoxIndicators final : public StatusIndicatorSet
{
public:
    explicit CheckBoxIndicators(const std::array<QCheckBox *, StatusBitCount> &boxes);
    void setIndicatorState(int index, int state) override;
    QString indicatorCaption(int index) const override;

private:
    std::array<QCheckBox *, StatusBitCount> m_boxes;
};

// "Use Printer Selected" and the text of the printer box as the printer choice.
class PrinterBoxChoice final : public PrinterChoice
{
public:
    PrinterBoxChoice(const QCheckBox &useSelected, const QComboBox &printers);
    int useSelectedPrinter() const override;
    QString printerName() const override;

private:
    const QCheckBox &m_useSelected;
    const QComboBox &m_printers;
};

// The list box as the status log. A line's reason is its tool tip, and its description for
// assistive technology.
class ListBoxLog final : public StatusLog
{
public:
    explicit ListBoxLog(QListWidget &list);
    int lineCount() const override;
    void appendLine(const QString &line, const QString &reason) override;
    void selectLine(int index) override;
    void removeLine(int index) override;

private:
    QListWidget &m_list;
};

// A check box's value: 1 checked, 0 unchecked.
int checkBoxValue(const QCheckBox &box);

} // namespace ravelin
