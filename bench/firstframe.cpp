// SPDX-License-Identifier: MIT
// Linked into the start-up benchmark's programs, beside their own main(): reports when the
// program's first window has been painted, then ends the program through its event loop.
//
// It hooks in when the QApplication is constructed, so the program's own code runs unchanged.
// The report is one line on standard output, "first-frame-ns=N", N being CLOCK_MONOTONIC in
// nanoseconds once the first paint and the flush that follows it are done; the benchmark that
// started the program compares it with the time it took just before starting it.

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <cstdio>
#include <ctime>

namespace {

class FirstFrameWatch final : public QObject
{
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!m_painted && event->type() == QEvent::Paint && watched->isWidgetType()) {
            m_painted = true;
            // Queued, so that it runs once the whole window is painted and flushed: a window
            // is painted in one go, the paint event of each widget in turn.
            QMetaObject::invokeMethod(this, &FirstFrameWatch::report, Qt::QueuedConnection);
        }
        return false;
    }

private:
    void report()
    {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        std::printf("first-frame-ns=%lld\n",
                    static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
        std::fflush(stdout);
        QCoreApplication::exit(0);
    }

    bool m_painted = false;
};

void watchForFirstFrame()
{
    auto *watch = new FirstFrameWatch;
    watch->setParent(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(watch);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(watchForFirstFrame)
