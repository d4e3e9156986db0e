#include "ui/TTimer.h"

#include <QScopedValueRollback>

TTimer::TTimer(int intervalMs, QObject* parent) : QObject(parent), interval_(intervalMs) {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(intervalMs);
    timer_.setSingleShot(false);
    connect(&timer_, &QTimer::timeout, this, &TTimer::Tick);
}

void TTimer::SetEnabled(bool enabled) {
    if (enabled == timer_.isActive())
        return; // arming an armed timer must not restart its period
    if (enabled)
        timer_.start();
    else
        timer_.stop();
}

void TTimer::Tick() {
    // Qt's event dispatchers already hold back a timer's tick while its previous one is handled; the
    // flag makes the rule this wrapper's own, whatever delivers the tick.
    if (inHandler_ || !OnTimer)
        return;
    const QScopedValueRollback<bool> running(inHandler_, true);
    OnTimer(*this);
}
