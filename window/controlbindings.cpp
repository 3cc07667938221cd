// SPDX-License-Identifier: MIT
#include "controlbindings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QTextDocument>

using namespace Qt::StringLiterals;

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
    m_boxes.at(static_cast<std::size_t>(index))->setChecked(state == 1);
}

QString CheckBoxIndicators::indicatorCaption(int index) const
{
    return m_boxes.at(static_cast<std::size_t>(index))->text();
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

void ListBoxLog::appendLine(const QString &line, const QString &reason)
{
    // Complete before it joins the list, which then measures it once, as it stands.
    auto *item = new QListWidgetItem(line);
    if (!reason.isEmpty()) {
        // A tool tip that looks like markup would be shown as markup: such a reason is written
        // as markup that shows it as it stands.
        item->setToolTip(
            Qt::mightBeRichText(reason) ? u"<qt>"_s + reason.toHtmlEscaped() + u"</qt>"_s : reason);
        item->setData(Qt::AccessibleDescriptionRole, reason);
    }
    m_list.addItem(item);
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
