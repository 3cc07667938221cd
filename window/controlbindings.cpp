// SPDX-License-Identifier: MIT
#include "controlbindings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>

namespace ravelin {

int checkBoxValue(const QCheckBox &box)
{
    return box.checkState() == Qt::Checked ? 1 : 0;
}

CheckBoxIndicators::CheckBoxIndicators(const std::array<QCheckBox *, StatusBitCount> &boxes)
    : m_boxes(boxes)
{}

void CheckBoxIndicators::setIndicatorState(int index, int state)
{
    m_boxes.at(index)->setChecked(state == 1);
}

QString CheckBoxIndicators::indicatorCaption(int index) const
{
    return m_boxes.at(index)->text();
}

PrinterBoxChoice::PrinterBoxChoice(const QCheckBox &useSelected, const QComboBox &printers)
    : m_useSelected(useSelected)
    , m_printers(printers)
{}

int PrinterBoxChoice::useSelectedPrinter() const
{
    return checkBoxValue(m_useSelected);
}

QString PrinterBoxChoice::printerName() const
{
    return m_printers.currentText();
}

ListBoxLog::ListBoxLog(QListWidget &list)
    : m_list(list)
{}

int ListBoxLog::lineCount() const
{
    return m_list.count();
}

void ListBoxLog::appendLine(const QString &line)
{
    m_list.addItem(line);
}

void ListBoxLog::selectLine(int index)
{
    m_list.setCurrentRow(index);
    m_list.scrollToItem(m_list.item(index));
}

void ListBoxLog::removeLine(int index)
{
    delete m_list.takeItem(index);
}

} // namespace ravelin
