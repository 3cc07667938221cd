// SPDX-License-Identifier: MIT
#pragma once

#include "statusdouble.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <dlfcn.h>

#include <stdexcept>

// A test's handle on a status library double. Opening the file the program loaded gives the
// same instance, so a test scripts the answers and reads back the calls of the very library the
// program is using.
class StatusDoubleClient
{
public:
    explicit StatusDoubleClient(const char *path)
        : m_handle(dlopen(path, RTLD_NOW | RTLD_LOCAL))
    {
        if (!m_handle)
            throw std::runtime_error(dlerror());
        m_script = reinterpret_cast<StatusDoubleScriptFn>(symbol("statusDoubleScript"));
        m_lmCalls = reinterpret_cast<StatusDoubleCallsFn>(symbol("statusDoubleLMCalls"));
        m_printerCalls = reinterpret_cast<StatusDoubleCallsFn>(symbol("statusDoublePrinterCalls"));
        m_lastName = reinterpret_cast<StatusDoubleLastNameFn>(symbol("statusDoubleLastName"));
        m_scriptReason =
            reinterpret_cast<StatusDoubleScriptReasonFn>(symbol("statusDoubleScriptReason"));
        m_reasonCalls = reinterpret_cast<StatusDoubleCallsFn>(symbol("statusDoubleReasonCalls"));
    }
    ~StatusDoubleClient() { dlclose(m_handle); }
    StatusDoubleClient(const StatusDoubleClient &) = delete;
    StatusDoubleClient &operator=(const StatusDoubleClient &) = delete;

    // Whether the process has the file loaded, without loading it.
    static bool isLoaded(const char *path)
    {
        void *handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
        if (handle)
            dlclose(handle);
        return handle != nullptr;
    }
    static bool isLoaded(const QString &path) { return isLoaded(QFile::encodeName(path).data()); }

    // A copy of the double in folder, a file that nothing in the process can have loaded yet,
    // whatever ran before; empty if it could not be made. The loader tells files apart by their
    // identity on disk, so the copy loads as a library of its own.
    static QString freshCopy(const char *path, const QString &folder)
    {
        const QString copy = QDir(folder).filePath(QFileInfo(QFile::decodeName(path)).fileName());
        return QFile::copy(QFile::decodeName(path), copy) ? copy : QString();
    }

    // Sets the words the two functions return and forgets earlier calls and the reason.
    void script(int32_t lmStatus, int32_t printerStatus) { m_script(lmStatus, printerStatus); }
    // Sets the reason GetStatusReason gives, where the double has it, up to 16383 bytes; empty
    // for none.
    void scriptReason(const QByteArray &reason) { m_scriptReason(reason.constData()); }
    int reasonCalls() const { return m_reasonCalls(); }
    int lmCalls() const { return m_lmCalls(); }
    int printerCalls() const { return m_printerCalls(); }
    QByteArray lastName() const { return QByteArray(m_lastName()); }

private:
    void *symbol(const char *name)
    {
        void *address = dlsym(m_handle, name);
        if (!address)
            throw std::runtime_error(dlerror());
        return address;
    }

    void *m_handle;
    StatusDoubleScriptFn m_script;
    StatusDoubleCallsFn m_lmCalls;
    StatusDoubleCallsFn m_printerCalls;
    StatusDoubleLastNameFn m_lastName;
    StatusDoubleScriptReasonFn m_scriptReason;
    StatusDoubleCallsFn m_reasonCalls;
};
