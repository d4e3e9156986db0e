#include "ui/TTimer.h"

TTimer::TTimer(int intervalMs, QObject* parent) : QObject(parent), interval_(intervalMs) {
    timer_.setInterval(intervalMs);
    timer_.setSingleShot(false);
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (OnTimer)
            OnTimer(*this);
    });
}

void TTimer::SetEnabled(bool enabled) {
    if (enabled == timer_.isActive())
        return; // arming an armed timer must not restart its period
    if (enabled)
        timer_.start();
    else
        timer_.stop();
}
