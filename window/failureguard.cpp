// SPDX-License-Identifier: MIT
#include "failureguard.h"

#include "messagebox.h"
#include "statuslibrary.h"

#include <cstdio>
#include <cstdlib>

namespace ravelin {

FailureGuard::FailureGuard(MessageBox &messages)
    : m_messages(messages)
{}

void FailureGuard::run(const std::function<void()> &handler)
{
    try {
        handler();
    } catch (const StatusLibraryError &error) {
        m_messages.show(error.message(), MessageBox::Icon::Critical,
                        QString::fromUtf16(ApplicationTitle));
        // The program holds nothing worth saving, so it ends right here. Leaving through the
        // event loop instead would let handlers already due (a queued click, a polling tick, a
        // window close that quits with status 0) run first and overwrite the exit status.
        std::fflush(nullptr);
        std::_Exit(EXIT_FAILURE);
    }
}

} // namespace ravelin
