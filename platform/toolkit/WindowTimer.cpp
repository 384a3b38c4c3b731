#include "platform/toolkit/WindowTimer.h"

#include <QVariant>

namespace platform {

WindowTimer::WindowTimer(QObject* owner, const char* name, int intervalMs, const char* handlerName)
    : QObject(owner)
{
    setObjectName(name);
    setProperty("handler", QByteArray(handlerName));
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(intervalMs);
    connect(&timer_, &QTimer::timeout, this, &WindowTimer::tick);
}

void WindowTimer::setEnabled(bool enabled)
{
    if (enabled && !timer_.isActive())
        timer_.start();
    else if (!enabled)
        timer_.stop();
}

} // namespace platform
