// SPDX-License-Identifier: MIT
#pragma once

#include <QFont>

namespace ravelin {

// The window's controls have fixed places and sizes, made for a small 8-point interface font and
// 13-pixel check boxes. So the program brings its own look instead of the desktop's: Qt's Fusion
// style with classic 13-pixel check marks and frames captioned in their top edge, and Liberation
// Sans at 8 points.
QFont applicationFont();

// Sets the application up as the program presents itself: its name and version, the desktop
// entry its windows belong to (the desktop matches them to its menu entry and icon by it), its
// look (the style and the font above) and its window icon. Call it once the QApplication exists,
// before any window is created. The program, the window's tests and the benchmarks all start
// this way.
void setUpApplication();

} // namespace ravelin
