#pragma once

#include <functional>

namespace ravelin {

class MessageBox;

// The one place where a failure below an event handler ends the program. No handler catches
// errors of its own: every handler runs through run(), and a StatusLibraryError escaping one
// shows its message in a critical box captioned "Ravelin", after which the event loop returns
// with a non-zero exit status. Handlers that are still due while the program ends (a queued
// click, a polling tick) do nothing.
class FailureGuard
{
public:
    explicit FailureGuard(MessageBox &messages);

    void run(const std::function<void()> &handler);
    bool isEnding() const { return m_ending; }

private:
    MessageBox &m_messages;
    bool m_ending = false;
};

} // namespace ravelin
