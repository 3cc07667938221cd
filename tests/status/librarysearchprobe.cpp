// SPDX-License-Identifier: MIT
// Binds the status library as the program does for a program in APPLICATION_DIR, makes one call,
// and prints which file was loaded (or why none was) and every file of that name the process has
// mapped. The test that starts it chooses the environment and the current folder.
//
//   library_search_probe APPLICATION_DIR

#include "statuslibrary.h"

#include <QCoreApplication>
#include <QFile>
#include <QSet>

#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.size() != 1)
        return 64;

    ravelin::StatusLibrary library(ravelin::StatusLibrary::standardCandidates(arguments.first()));
    try {
        library.GetLMStatus();
        std::printf("loaded %s\n", qPrintable(library.loadedPath()));
    } catch (const ravelin::StatusLibraryError &error) {
        std::printf("failed %s\n", qPrintable(error.message()));
    }

    QFile maps(u"/proc/self/maps"_s);
    if (!maps.open(QIODevice::ReadOnly | QIODevice::Text))
        return 1;
    QSet<QString> mapped;
    for (const QByteArray &line : maps.readAll().split('\n')) {
        const qsizetype path = line.indexOf('/');
        if (path >= 0 && line.endsWith("/" + ravelin::StatusLibrary::fileName().toUtf8()))
            mapped.insert(QString::fromUtf8(line.mid(path)));
    }
    for (const QString &path : std::as_const(mapped))
        std::printf("mapped %s\n", qPrintable(path));
    return 0;
}
