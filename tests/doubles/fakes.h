// SPDX-License-Identifier: MIT
#pragma once

#include "installedprinters.h"
#include "statusquery.h"
#include "statusword.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdio>
#include <functional>

// Sixteen indicators that remember every write, and the time of the clock's reading in terms of
// those writes.
class RecordingIndicators final : public ravelin::StatusIndicatorSet
{
public:
    RecordingIndicators()
    {
        for (std::size_t i = 0; i < ravelin::StatusBitCount; ++i)
            captions[i] = QString::fromLatin1(ravelin::StatusBitCaptions[i]);
        states.fill(-1);
    }
    void setIndicatorState(int index, int state) override
    {
        writes.append(index);
        states[static_cast<std::size_t>(index)] = state;
    }
    QString indicatorCaption(int index) const override
    {
        return captions[static_cast<std::size_t>(index)];
    }

    std::array<QString, ravelin::StatusBitCount> captions;
    std::array<int, ravelin::StatusBitCount> states;
    QList<int> writes;
};

class FixedClock final : public ravelin::Clock
{
public:
    explicit FixedClock(QDateTime time, const RecordingIndicators *watched = nullptr)
        : m_time(std::move(time))
        , m_watched(watched)
    {}
    QDateTime now() const override
    {
        ++readings;
        if (m_watched)
            writesBeforeReading = m_watched->writes.size();
        return m_time;
    }

    mutable int readings = 0;
    mutable qsizetype writesBeforeReading = -1;

private:
    QDateTime m_time;
    const RecordingIndicators *m_watched;
};

class FixedChoice final : public ravelin::PrinterChoice
{
public:
    int useSelectedPrinter() const override { return use; }
    QString printerName() const override { return name; }

    int use = 0;
    QString name;
};

class RecordingMessageBox final : public ravelin::MessageBox
{
public:
    struct Shown
    {
        QString text;
        Icon icon;
        QString caption;
    };
    void show(const QString &text, Icon icon, const QString &caption) override
    {
        shown.append({text, icon, caption});
        if (whileOpen)
            whileOpen();
    }
    QList<Shown> shown;
    // Runs while the box would be open, before show() returns, like the user reading it.
    std::function<void()> whileOpen;
};

// A message box that writes what it would show to standard output, for the child processes
// whose endings the tests watch.
class PrintingMessageBox final : public ravelin::MessageBox
{
public:
    void show(const QString &text, Icon icon, const QString &caption) override
    {
        std::printf("box caption=%s icon=%s\n%s\n", qPrintable(caption),
                    icon == Icon::Critical ? "critical" : "none", qPrintable(text));
        std::fflush(stdout);
    }
};

class FixedPrinters final : public ravelin::InstalledPrinters
{
public:
    explicit FixedPrinters(QStringList printers = {})
        : names(std::move(printers))
    {}
    QStringList printerNames() const override
    {
        ++reads;
        return names;
    }

    QStringList names;
    mutable int reads = 0;
};
