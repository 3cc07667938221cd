// SPDX-License-Identifier: MIT
#pragma once

#include "statusword.h"

#include <QString>

#include <array>

class QAction;
class QCheckBox;
class QComboBox;
class QListWidget;
class QMainWindow;
class QPushButton;

namespace ravelin {

class PollingTimer;

// The main window as designed: every control with its design name, caption, container, place
// and size, and its place in the keyboard focus order. Places and sizes are in twips
// (1/1440 inch), converted at 15 twips to the device-independent pixel, so that Qt's high-DPI
// scaling scales the whole window alike.

inline constexpr int TwipsPerPixel = 15;
constexpr int pixelsFromTwips(int twips)
{
    return (twips + TwipsPerPixel / 2) / TwipsPerPixel;
}

inline constexpr char16_t Form1Caption[] = u"Quorvel QVT-7460 Status Demo";
inline constexpr int Form1ClientWidth = 8760; // twips, below the menu bar
inline constexpr int Form1ClientHeight = 7080;

enum class ControlKind {
    Frame,        // a captioned group box
    Label,        // text centred
    CheckBox,     // two states
    Indicator,    // a check box that shows a state and takes none from the user
    PushButton,   // caption wrapped over as many lines as it needs
    ToggleButton, // a check box drawn as a push button that stays pressed while checked
    ComboBox,     // editable
    ListBox,      // unsorted, one line selected at a time
    Timer,        // not visible: no place, no focus
};

inline constexpr int NoFocus = -1;

struct ControlDesign
{
    const char *name;
    ControlKind kind;
    const char *container; // the design name of a frame, or nullptr for the window
    const char *caption;   // for a combo box its text at start
    int left, top, width, height;
    int tabIndex;
    bool enabled = true;
    // For the list and the combo boxes, which have no caption of their own: the frame or label
    // whose caption names them for a screen reader.
    const char *labelledBy = nullptr;
};

// In the order of the design; a frame comes before the controls it holds.
inline constexpr std::array Form1Design = {
    // clang-format off
    //            name                         kind                       container                    caption                                          left  top   width height tab
    ControlDesign{"comboParallelInterval",     ControlKind::ComboBox,     nullptr,                     "1000",                                          5640, 1680,  975,  315, 25, true, "Label4"},
    ControlDesign{"cmdRetreivePrinterStatus",  ControlKind::PushButton,   nullptr,                     "Retreive Printer Status",                       2040, 1440, 1695,  615, 24},
    ControlDesign{"chkUsePrinterSelected",     ControlKind::CheckBox,     nullptr,                     "Use Printer Selected",                          1680,    0, 3015,  375, 23},
    ControlDesign{"FrameParallelPortSettings", ControlKind::Frame,        nullptr,                     "Printer",                                       1680,  360, 5055,  975, 21},
    ControlDesign{"ComboPrintersList",         ControlKind::ComboBox,     "FrameParallelPortSettings", "",                                               120,  360, 4815,  315, 22, false, "FrameParallelPortSettings"},
    ControlDesign{"Frame2",                    ControlKind::Frame,        nullptr,                     "Printer Data Received From Language Monitor",    120, 4680, 8535, 1695, 19},
    ControlDesign{"ListStatus",                ControlKind::ListBox,      "Frame2",                    "",                                               120,  240, 8295, 1035, 20, true, "Frame2"},
    ControlDesign{"cmdExit",                   ControlKind::PushButton,   nullptr,                     "Exit",                                          7440, 6480, 1215,  495, 18},
    ControlDesign{"chkEnableStatusPolling",    ControlKind::ToggleButton, nullptr,                     "Enable Printer Status Polling",                 3840, 1440, 1695,  615, 17},
    ControlDesign{"tmrPrinterStatusPoll",      ControlKind::Timer,        nullptr,                     "",                                                 0,    0,    0,    0, NoFocus},
    ControlDesign{"Frame1",                    ControlKind::Frame,        nullptr,                     "Printer Status Bits",                           2040, 2160, 4335, 2415, 0},
    // The sixteen status indicators, index = bit number, captioned with the bit names: bits 0
    // to 7 down the left column, 8 to 15 down the right; the right column comes first in the
    // focus order.
    ControlDesign{"chkStatus_0",               ControlKind::Indicator,    "Frame1",                    StatusBitCaptions[0],                             240,  240, 1575,  195,  9},
    ControlDesign{"chkStatus_1",               ControlKind::Indicator,    "Frame1",                    StatusBitCaptions[1],                             240,  480, 1575,  195, 10},
    ControlDesign{"chkStatus_2",               ControlKind::Indicator,    "Frame1",                    StatusBitCaptions[2],                             240,  720, 1575,  195, 11},
    ControlDesign{"chkStatus_3",               ControlKind::Indicator,    "Frame1",                    StatusBitCaptions[3],                             240,  960, 1575,  195, 12},
    ControlDesign{"chkStatus_4",               ControlKind::Indicator,    "Frame1",                    StatusBitCaptions[4],                             240, 1200, 1575,  195, 13},
    ControlDesign{"chkStatus_5",               ControlKind::Indicator,    "Frame1",                    StatusBitCaptions[5],                             240, 1440, 1575,  195, 14},
    ControlDesign{"chkStatus_6",               ControlKind::Indicator,    "Frame1",                    StatusBitCaptions[6],                             240, 1680, 1575,  195, 15},
    ControlDesign{"chkStatus_7",               ControlKind::Indicator,    "Frame1",                    StatusBitCaptions[7],                             240, 1920, 1575,  195, 16},
    ControlDesign{"chkStatus_8",               ControlKind::Indicator,    "Frame1",                    StatusBitCaptions[8],                            2520,  240, 1575,  195,  1},
    ControlDesign{"chkStatus_9",               ControlKind::Indicator,    "Frame1",                    StatusBitCaptions[9],                            2520,  480, 1575,  195,  2},
    ControlDesign{"chkStatus_10",              ControlKind::Indicator,    "Frame1",                    StatusBitCaptions[10],                           2520,  720, 1575,  195,  3},
    ControlDesign{"chkStatus_11",              ControlKind::Indicator,    "Frame1",                    StatusBitCaptions[11],                           2520,  960, 1575,  195,  4},
    ControlDesign{"chkStatus_12",              ControlKind::Indicator,    "Frame1",                    StatusBitCaptions[12],                           2520, 1200, 1575,  195,  5},
    ControlDesign{"chkStatus_13",              ControlKind::Indicator,    "Frame1",                    StatusBitCaptions[13],                           2520, 1440, 1575,  195,  6},
    ControlDesign{"chkStatus_14",              ControlKind::Indicator,    "Frame1",                    StatusBitCaptions[14],                           2520, 1680, 1575,  195,  7},
    ControlDesign{"chkStatus_15",              ControlKind::Indicator,    "Frame1",                    StatusBitCaptions[15],                           2520, 1920, 1575,  195,  8},
    ControlDesign{"Label4",                    ControlKind::Label,        nullptr,                     "Interval (ms)",                                 5640, 1440,  975,  255, 26},
    // clang-format on
};

// The menu bar: one menu, File, with About and Exit. No access keys, no shortcut keys.
struct MenuEntryDesign
{
    const char *name;
    const char *caption;
};
inline constexpr MenuEntryDesign MenuFile{"mnuFile", "File"};
inline constexpr std::array MenuFileEntries = {
    MenuEntryDesign{"mnuFileAbout", "About"},
    MenuEntryDesign{"mnuFileExit", "Exit"},
};

// The controls the window's code works with, as created from the design.
struct Form1Controls
{
    std::array<QCheckBox *, StatusBitCount> chkStatus{};
    QCheckBox *chkUsePrinterSelected = nullptr;
    QComboBox *ComboPrintersList = nullptr;
    QComboBox *comboParallelInterval = nullptr;
    QListWidget *ListStatus = nullptr;
    QPushButton *cmdRetreivePrinterStatus = nullptr;
    QPushButton *chkEnableStatusPolling = nullptr;
    QPushButton *cmdExit = nullptr;
    PollingTimer *tmrPrinterStatusPoll = nullptr;
    QAction *mnuFileAbout = nullptr;
    QAction *mnuFileExit = nullptr;
};

// Creates the window's menu, controls and focus order from the design, in a client area of the
// design's size below the menu bar, sizes the window to fit and fixes that size. Every control's
// object name is its design name; a control array's members are named name_index.
Form1Controls createForm1Controls(QMainWindow &window);

} // namespace ravelin
