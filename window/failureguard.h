// SPDX-License-Identifier: MIT
#pragma once

#include <functional>

namespace ravelin {

class MessageBox;

// The one place where a failure below an event handler ends the program. No handler catches
// errors of its own: every handler runs through run(), and a StatusLibraryError escaping one
// shows its message in a critical box captioned "Ravelin", after which the process ends with
// exit status 1.
class FailureGuard
{
public:
    explicit FailureGuard(MessageBox &messages);

    void run(const std::function<void()> &handler);

private:
    MessageBox &m_messages;
};

} // namespace ravelin
