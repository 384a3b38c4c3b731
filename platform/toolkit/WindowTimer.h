// A window timer: ticks every interval on the GUI thread while enabled.
//
// Enabling an enabled timer changes nothing (the due tick is neither brought forward nor
// postponed), unlike QTimer::start(), which restarts a running timer. Disabling drops the due tick.
// Precise timing, since Qt's coarse timers were seen running 525 ms for the first ticks of 500.
#pragma once

#include <QObject>
#include <QTimer>

namespace platform {

class WindowTimer : public QObject {
    Q_OBJECT
public:
    // handlerName is bound by name like a control's handler (see HandlerBinder).
    WindowTimer(QObject* owner, const char* name, int intervalMs, const char* handlerName);

    void setEnabled(bool enabled);
    bool enabled() const { return timer_.isActive(); }
    int interval() const { return timer_.interval(); }

signals:
    void tick();

private:
    QTimer timer_;
};

} // namespace platform
