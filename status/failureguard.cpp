#include "failureguard.h"

#include "statuslibrary.h"
#include "statusquery.h"

#include <QCoreApplication>

#include <cstdlib>

namespace ravelin {

FailureGuard::FailureGuard(MessageBox &messages)
    : m_messages(messages)
{
}

void FailureGuard::run(const std::function<void()> &handler)
{
    if (m_ending)
        return;
    try {
        handler();
    } catch (const StatusLibraryError &error) {
        m_ending = true;
        m_messages.show(error.message(), MessageBox::Icon::Critical,
                        QString::fromUtf16(ApplicationTitle));
        QCoreApplication::exit(EXIT_FAILURE);
    }
}

} // namespace ravelin
