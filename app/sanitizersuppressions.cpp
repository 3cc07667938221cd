// SPDX-License-Identifier: MIT
// Built into the program in the sanitizer build only: the leaks that LeakSanitizer is to pass
// over, all of them the toolkit's, below the program. Each is a library, matched anywhere in the
// stack where the memory was allocated: the toolkit's libraries are built without frame pointers,
// so with the sanitizers' default fast unwinding a report's stack ends in the library that
// allocated, and names nothing above it.
//
// - libQt6DBus: on X11 the platform theme asks for the D-Bus session bus while the window's menu
//   bar is made (QMainWindow::menuBar(), QDBusConnection::sessionBus()), which starts Qt's D-Bus
//   connection thread, a QDaemonThread. When the program ends, that thread may still be ending
//   while the leak check runs, and the check then takes the thread's data, allocated as the
//   thread was made, for lost, in a few runs of a hundred under Xvfb. Ravelin has no D-Bus
//   code of its own; everything in that library is the toolkit's.
// - libdbus-1: with no session bus to connect to, libdbus keeps a read buffer that it never
//   frees.

extern "C" const char *__lsan_default_suppressions();

extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libQt6DBus.so\n"
           "leak:libdbus-1.so\n";
}
