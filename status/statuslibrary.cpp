// SPDX-License-Identifier: MIT
#include "statuslibrary.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <dlfcn.h>
#include <glob.h>

#include <cstddef>
#include <vector>
#endif

using namespace Qt::StringLiterals;

namespace ravelin {

namespace {

extern "C" {
using GetLMStatusFn = std::int32_t (*)();
using GetPrinterStatusFn = std::int32_t (*)(const char *);
// Writes at most size bytes, NUL included, cut to fit like snprintf; returns the full length.
using GetStatusReasonFn = std::size_t (*)(char *, std::size_t);
}

// Thin wrappers over the platform's loader. QLibrary is not used: on Linux it ignores the
// executable's RUNPATH for bare names and reports a missing symbol only as "Unknown error",
// while the loader's own message names what is missing.
#ifdef Q_OS_WIN
// A bare name goes through the default search (the program's folder, the system's and those
// added for the process), a full path as it stands with its dependencies looked up beside it
// and in the default places. Neither looks in the current folder.
void *openLibrary(const QString &file, QString &error)
{
    const DWORD flags = QFileInfo(file).isAbsolute()
                            ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS
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

QStringList filesNamed(const QString &name, QString &)
{
    return {name};
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

// The folders the dynamic loader itself searches for the program, in its order: those of
// LD_LIBRARY_PATH (already left out where the program runs with privileges), the program's own
// run path, and the system's default folders. Empty and relative elements, which the loader
// takes from the current folder, are left out.
QStringList loaderFolders()
{
    QStringList folders;
    void *program = dlopen(nullptr, RTLD_LAZY);
    if (!program)
        return folders;
    Dl_serinfo size;
    if (dlinfo(program, RTLD_DI_SERINFOSIZE, &size) == 0) {
        std::vector<std::max_align_t> storage(size.dls_size / sizeof(std::max_align_t) + 1);
        auto *info = reinterpret_cast<Dl_serinfo *>(storage.data());
        if (dlinfo(program, RTLD_DI_SERINFOSIZE, info) == 0 &&
            dlinfo(program, RTLD_DI_SERINFO, info) == 0) {
            for (unsigned i = 0; i < info->dls_cnt; ++i) {
                const QString folder = QFile::decodeName(info->dls_serpath[i].dls_name);
                if (QDir::isAbsolutePath(folder))
                    folders.append(QDir::cleanPath(folder));
            }
        }
    }
    dlclose(program);
    return folders;
}

// The folders listed in the loader's configuration file and the files it includes: the ones
// whose libraries the loader finds through its cache.
void addConfiguredFolders(const QString &fileName, QStringList &folders, int depth = 0)
{
    QFile file(fileName);
    if (depth > 8 || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    while (!file.atEnd()) {
        QString line = QString::fromLocal8Bit(file.readLine());
        line.truncate(line.indexOf(u'#'));
        line = line.trimmed();
        if (line.startsWith(u"include"_s) && line.size() > 7 && line.at(7).isSpace()) {
            QString pattern = line.mid(8).trimmed();
            if (QDir::isRelativePath(pattern))
                pattern = QFileInfo(fileName).absolutePath() + u'/' + pattern;
            glob_t found{};
            if (glob(QFile::encodeName(pattern).constData(), 0, nullptr, &found) == 0) {
                for (std::size_t i = 0; i < found.gl_pathc; ++i)
                    addConfiguredFolders(QFile::decodeName(found.gl_pathv[i]), folders, depth + 1);
            }
            globfree(&found);
        } else if (QDir::isAbsolutePath(line)) {
            folders.append(QDir::cleanPath(line));
        }
    }
}

// The files called name in the folders where the loader would look for it, in its order, but
// never in the current folder or one named relative to it.
QStringList filesNamed(const QString &name, QString &notFound)
{
    QStringList folders = loaderFolders();
    addConfiguredFolders(u"/etc/ld.so.conf"_s, folders);
    folders.removeDuplicates();
    QStringList files;
    for (const QString &folder : std::as_const(folders)) {
        const QString file = folder + u'/' + name;
        if (QFileInfo(file).isFile())
            files.append(file);
    }
    if (files.isEmpty()) {
        notFound = u"%1: cannot open shared object file: No such file or directory (searched "
                   "%2)"_s.arg(name, folders.join(u", "_s));
    }
    return files;
}
#endif

// Where a candidate may be loaded from: a bare file name is looked for in the library folders,
// a full path stands as it is, and a relative path is refused, since it would be taken from
// wherever the program was started.
QStringList placesOf(const QString &candidate, QString &refusal)
{
    if (!QDir::fromNativeSeparators(candidate).contains(u'/'))
        return filesNamed(candidate, refusal);
    if (!QDir::isAbsolutePath(candidate)) {
        refusal = u"%1: not loaded, since it is a relative path"_s.arg(candidate);
        return {};
    }
    return {candidate};
}

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
        QString refusal;
        const QStringList places = placesOf(candidate, refusal);
        if (places.isEmpty())
            reasons << refusal;
        // The loader passes over a file it cannot use and goes on looking; so does this.
        for (const QString &place : places) {
            QString error;
            if (void *handle = openLibrary(place, error)) {
                m_handle = handle;
                m_loadedPath = place;
                m_library = Binding::Bound;
                return;
            }
            reasons << error;
        }
    }
    m_library = Binding::Missing;
    m_loadFailure = u"The printer status library %1 could not be loaded.\n\n%2"_s.arg(
        fileName(), reasons.isEmpty() ? u"No place to look for it."_s : reasons.join(u'\n'));
}

void *StatusLibrary::lookUp(Function &function)
{
    if (function.state == Binding::NotTried) {
        QString error;
        function.address = findSymbol(m_handle, function.name, error);
        function.state = function.address ? Binding::Bound : Binding::Missing;
        if (!function.address) {
            function.failure = u"The printer status library %1 has no function %2.\n\n%3"_s.arg(
                m_loadedPath, QLatin1StringView(function.name), error);
        }
    }
    return function.address;
}

void *StatusLibrary::resolve(Function &function)
{
    load();
    if (m_library == Binding::Missing)
        throw StatusLibraryError(m_loadFailure);
    if (!lookUp(function))
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

QString StatusLibrary::GetStatusReason()
{
    if (m_library != Binding::Bound)
        return {};
    auto fn = reinterpret_cast<GetStatusReasonFn>(lookUp(m_getStatusReason));
    if (!fn)
        return {};
    // Most reasons fit the first buffer; a longer one is asked for again at its full length, up
    // to the most that is kept.
    QByteArray buffer(256, '\0');
    const std::size_t length = fn(buffer.data(), static_cast<std::size_t>(buffer.size()));
    if (length >= static_cast<std::size_t>(buffer.size())) {
        buffer.fill('\0', static_cast<qsizetype>(std::min(length, MaximumReasonLength) + 1));
        fn(buffer.data(), static_cast<std::size_t>(buffer.size()));
    }
    // Whatever the library wrote, the text ends within the buffer.
    buffer.back() = '\0';
    buffer.truncate(static_cast<qsizetype>(
        qstrnlen(buffer.constData(), static_cast<std::size_t>(buffer.size()))));
    return QString::fromLocal8Bit(buffer);
}

} // namespace ravelin
