// SPDX-License-Identifier: MIT
// The floors of the start-up benchmark: a bare main window of the program's window's size, empty,
// or (built with BARE_WITH_LABEL) holding one label, so that it draws text, as every real
// window does, with the toolkit's own font.

#include <QApplication>
#include <QMainWindow>
#ifdef BARE_WITH_LABEL
#include <QLabel>
#endif

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
#ifdef BARE_WITH_LABEL
    window.setCentralWidget(new QLabel(u"Printer Status Bits"_s));
#endif
    window.resize(584, 496);
    window.show();
    return QApplication::exec();
}
