#pragma once

#include <QFont>

namespace ravelin {

// The window's controls have fixed places and sizes, made for a small 8-point interface font and
// 13-pixel check boxes. So the program brings its own look instead of the desktop's: Qt's Fusion
// style with classic 13-pixel check marks and frames captioned in their top edge, and Liberation
// Sans at 8 points.
QFont applicationFont();

// Sets the style and the font for the whole application; call it once the QApplication exists,
// before any window is created.
void applyApplicationLook();

} // namespace ravelin
