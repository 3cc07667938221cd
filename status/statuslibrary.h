// SPDX-License-Identifier: MIT
#pragma once

#include "statusword.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <stdexcept>

namespace ravelin {

// The status library could not be loaded, or lacks a function. The core only reports it; the
// program answers it in one place, the failure guard its window's handlers run through, which
// shows the message and ends the program.
class StatusLibraryError : public std::runtime_error
{
public:
    explicit StatusLibraryError(const QString &message)
        : std::runtime_error(message.toStdString())
        , m_message(message)
    {}
    QString message() const { return m_message; }

private:
    QString m_message;
};

// The printer maker's status library, bound lazily.
//
// Nothing happens until the first call of one of its functions. That call loads the library,
// trying each candidate in turn; the first that loads is kept until the program ends. Each
// function is then looked up at its own first call and remembered, found or not, so a library
// lacking one function still serves the calls of the other and a failed look-up is not repeated.
// A library that failed to load is not tried again either: every later call reports the same
// failure.
class StatusLibrary
{
public:
    // Candidates are tried in order. A bare file name is looked for where the dynamic loader
    // would look (LD_LIBRARY_PATH, the executable's run path, the system's library folders), but
    // never in the current folder, which empty or relative elements of LD_LIBRARY_PATH would
    // name; each file found is loaded by its full path. (On Windows a bare name goes through
    // the default search, which leaves out the current folder too.) A full path is loaded as it
    // stands, and a relative one is refused.
    explicit StatusLibrary(QStringList candidates);
    ~StatusLibrary();
    StatusLibrary(const StatusLibrary &) = delete;
    StatusLibrary &operator=(const StatusLibrary &) = delete;

    // The candidates for a program in applicationDir: the maker's library wherever the system
    // keeps it, then the stand-in that ships with the program, at ../lib/ravelin/ from it.
    static QStringList standardCandidates(const QString &applicationDir);
    static QString fileName();

    StatusWord GetLMStatus();
    // The name goes to the library as a private NUL-terminated copy in the locale's 8-bit
    // encoding (UTF-8 on Linux, the ANSI code page on Windows).
    StatusWord GetPrinterStatus(const QString &printerName);
    // Why the calling thread's last word from GetLMStatus or GetPrinterStatus has Printer Error,
    // from the library's optional GetStatusReason: as the library wrote it, at most
    // MaximumReasonLength bytes of it, in the locale's 8-bit encoding. Empty when the library
    // gives no reason, has not been loaded, or lacks the function, as the maker's library does:
    // its absence is no failure, so this never throws.
    QString GetStatusReason();
    static constexpr std::size_t MaximumReasonLength = 4096;

    bool isLoaded() const { return m_handle != nullptr; }
    // The file that was loaded, empty before.
    QString loadedPath() const { return m_loadedPath; }

private:
    enum class Binding { NotTried, Bound, Missing };
    struct Function
    {
        explicit Function(const char *symbol)
            : name(symbol)
        {}
        const char *name;
        Binding state = Binding::NotTried;
        void *address = nullptr;
        QString failure;
    };

    void load();
    void *resolve(Function &function);
    // The function's address, or nullptr if the loaded library lacks it.
    void *lookUp(Function &function);

    QStringList m_candidates;
    Binding m_library = Binding::NotTried;
    void *m_handle = nullptr;
    QString m_loadedPath;
    QString m_loadFailure;
    Function m_getLMStatus{"GetLMStatus"};
    Function m_getPrinterStatus{"GetPrinterStatus"};
    Function m_getStatusReason{"GetStatusReason"};
};

} // namespace ravelin
