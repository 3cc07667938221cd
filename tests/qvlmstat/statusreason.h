// SPDX-License-Identifier: MIT
#pragma once

// The stand-in's optional GetStatusReason, for tests that load the library through the program's
// loader (which does not know it): the reason of the calling thread's last call.

#include <QByteArray>

#include <dlfcn.h>

#include <vector>

// The reason the library at path, already loaded, gives for this thread's last word, checked to
// come NUL-terminated and of the length it says.
inline QByteArray lastStatusReason(const char *path)
{
    using Reason = size_t (*)(char *, size_t);
    void *handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    const auto reason =
        handle ? reinterpret_cast<Reason>(dlsym(handle, "GetStatusReason")) : nullptr;
    if (!reason)
        return "(no GetStatusReason)";
    std::vector<char> text(reason(nullptr, 0) + 1, 'x');
    const size_t length = reason(text.data(), text.size());
    dlclose(handle);
    if (length + 1 != text.size() || text.back() != '\0')
        return "(not as long as it said, or not terminated)";
    return QByteArray(text.data(), qsizetype(length));
}
