// SPDX-License-Identifier: MIT
#pragma once

// What the in-process benchmarks share: the real window over the status library double, and
// readings of the process's own memory.

#include "applicationlook.h"
#include "statusdoubleclient.h"
#include "timing.h"
#include "windowrig.h"

#include <QApplication>
#include <QCoreApplication>

#include <array>
#include <chrono>
#include <memory>

namespace bench {

using namespace Qt::StringLiterals;

// The application as the program's main() sets it up, without a display unless told otherwise,
// like the test suite.
inline std::unique_ptr<QApplication> startApplication(int &argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    auto app = std::make_unique<QApplication>(argc, argv);
    ravelin::setUpApplication();
    return app;
}

// One pass of the event loop, as the program's own loop makes after each click or tick: the
// posted events, the list's delayed layout and the repaint that follows it. (Sending the posted
// events beforehand would add a paint of the list with its layout still out of date, which the
// program's loop never makes.)
inline void settle()
{
    QCoreApplication::processEvents();
}

// Two status words that differ in five indicators, so that every action changes what is shown.
inline constexpr std::array<ravelin::StatusWord, 2> AlternatingWords = {0x0410, 0x0083};

// The program's window as main() opens it, over the in-process status library double, the
// system clock and a fixed locale, loaded and shown; the benchmark scripts the double's answers.
struct ShownWindow : WindowRig
{
    ShownWindow()
        : WindowRig({u"QVT-7460-Counter"_s, u"QVT-7460-Kitchen"_s},
                    {QString::fromUtf8(STATUS_DOUBLE_PATH)}, Timing::System)
    {
        window.Form_Load();
        window.show();
        settle();
    }

    StatusDoubleClient statusDouble{STATUS_DOUBLE_PATH};
};

// Seconds since an arbitrary start, from the monotonic clock.
inline double seconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

} // namespace bench
