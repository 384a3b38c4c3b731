#include "TimedApplication.h"

#include <QEvent>
#include <chrono>
#include <ctime>

namespace {

double threadCpuMs()
{
    timespec time {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &time);
    return static_cast<double>(time.tv_sec) * 1e3 + static_cast<double>(time.tv_nsec) / 1e6;
}

// Called after the dispatch: a deferred delete has destroyed its receiver by then.
QString describe(const QObject* receiver, QEvent::Type type, const char* className)
{
    // Qt's inner timers carry no name: the named owner tells which timer it was.
    const QObject* named = type == QEvent::DeferredDelete ? nullptr : receiver;
    while (named && named->objectName().isEmpty())
        named = named->parent();
    // A window timer keeps its QTimer unnamed and unparented.
    return QString("event %1 to %2 (%3)")
        .arg(static_cast<int>(type))
        .arg(named ? named->objectName() : QString("an unnamed timer"))
        .arg(className);
}

} // namespace

bool TimedApplication::notify(QObject* receiver, QEvent* event)
{
    if (depth_ > 0)
        return platform::Application::notify(receiver, event);
    ++depth_;
    const QEvent::Type type = event->type();
    const char* className = receiver->metaObject()->className();
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = threadCpuMs();
    const bool handled = platform::Application::notify(receiver, event);
    const double wallMs
        = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    --depth_;
    if (wallMs > longest_.wallMs)
        longest_ = { wallMs, threadCpuMs() - cpuStart, describe(receiver, type, className) };
    return handled;
}
