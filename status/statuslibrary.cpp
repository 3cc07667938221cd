#include "statuslibrary.h"

#include <QDir>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <dlfcn.h>
#endif

using namespace Qt::StringLiterals;

namespace ravelin {

namespace {

extern "C" {
using GetLMStatusFn = std::int32_t (*)();
using GetPrinterStatusFn = std::int32_t (*)(const char *);
}

// Thin wrappers over the platform's loader. QLibrary is not used: on Linux it ignores the
// executable's RUNPATH for bare names and reports a missing symbol only as "Unknown error",
// while the loader's own message names what is missing.
#ifdef Q_OS_WIN
void *openLibrary(const QString &file, QString &error)
{
    const DWORD flags = QFileInfo(file).isAbsolute() ? LOAD_WITH_ALTERED_SEARCH_PATH
                                                     : LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;
    HMODULE module = LoadLibraryExW(
        reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(file).utf16()), nullptr, flags);
    if (!module)
        error = qt_error_string(int(GetLastError()));
    return module;
}

void *findSymbol(void *handle, const char *name, QString &error)
{
    FARPROC address = GetProcAddress(static_cast<HMODULE>(handle), name);
    if (!address)
        error = qt_error_string(int(GetLastError()));
    return reinterpret_cast<void *>(address);
}

void closeLibrary(void *handle)
{
    FreeLibrary(static_cast<HMODULE>(handle));
}
#else
QString loaderError()
{
    const char *message = dlerror();
    return message ? QString::fromLocal8Bit(message) : u"unknown reason"_s;
}

void *openLibrary(const QString &file, QString &error)
{
    dlerror();
    void *handle = dlopen(QFile::encodeName(file).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        error = loaderError();
    return handle;
}

void *findSymbol(void *handle, const char *name, QString &error)
{
    dlerror();
    void *address = dlsym(handle, name);
    if (!address)
        error = loaderError();
    return address;
}

void closeLibrary(void *handle)
{
    dlclose(handle);
}
#endif

} // namespace

StatusLibrary::StatusLibrary(QStringList candidates)
    : m_candidates(std::move(candidates))
{}

StatusLibrary::~StatusLibrary()
{
    if (m_handle)
        closeLibrary(m_handle);
}

QString StatusLibrary::fileName()
{
#ifdef Q_OS_WIN
    return u"QVLMSTAT.dll"_s;
#else
    return u"libQVLMSTAT.so"_s;
#endif
}

QStringList StatusLibrary::standardCandidates(const QString &applicationDir)
{
#ifdef Q_OS_WIN
    // Windows keeps the stand-in beside the program; the default search covers that folder
    // and the system's, and leaves out the current one.
    Q_UNUSED(applicationDir);
    return {fileName()};
#else
    return {fileName(), QDir::cleanPath(applicationDir + u"/../lib/ravelin/"_s + fileName())};
#endif
}

void StatusLibrary::load()
{
    if (m_library != Binding::NotTried)
        return;
    QStringList reasons;
    for (const QString &candidate : std::as_const(m_candidates)) {
        QString error;
        if (void *handle = openLibrary(candidate, error)) {
            m_handle = handle;
            m_loadedPath = candidate;
            m_library = Binding::Bound;
            return;
        }
        reasons << error;
    }
    m_library = Binding::Missing;
    m_loadFailure = u"The printer status library %1 could not be loaded.\n\n%2"_s.arg(
        fileName(), reasons.isEmpty() ? u"No place to look for it."_s : reasons.join(u'\n'));
}

void *StatusLibrary::resolve(Function &function)
{
    load();
    if (m_library == Binding::Missing)
        throw StatusLibraryError(m_loadFailure);
    if (function.state == Binding::NotTried) {
        QString error;
        function.address = findSymbol(m_handle, function.name, error);
        function.state = function.address ? Binding::Bound : Binding::Missing;
        if (!function.address) {
            function.failure = u"The printer status library %1 has no function %2.\n\n%3"_s.arg(
                m_loadedPath, QLatin1StringView(function.name), error);
        }
    }
    if (function.state == Binding::Missing)
        throw StatusLibraryError(function.failure);
    return function.address;
}

StatusWord StatusLibrary::GetLMStatus()
{
    auto fn = reinterpret_cast<GetLMStatusFn>(resolve(m_getLMStatus));
    return fn();
}

StatusWord StatusLibrary::GetPrinterStatus(const QString &printerName)
{
    auto fn = reinterpret_cast<GetPrinterStatusFn>(resolve(m_getPrinterStatus));
    const QByteArray name = printerName.toLocal8Bit();
    return fn(name.constData());
}

} // namespace ravelin
