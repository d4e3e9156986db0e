#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

// A timer with the rules of a Windows window timer: arming an armed timer changes nothing and does not
// restart its period; disarming stops it; the handler runs on every period until disarmed. A tick
// is a queued event, so it reaches the handler only when the GUI thread takes events. A tick that
// arrives while the handler still runs (at one of its pump points) is dropped: each handler runs
// once at a time. The period is kept to the millisecond (Qt::PreciseTimer), so a tick never comes
// early; Qt's default coarse timers may fire up to 5 % early.
class TTimer final : public QObject {
    Q_OBJECT
public:
    explicit TTimer(int intervalMs, QObject* parent = nullptr);

    int Interval() const { return interval_; }
    bool Enabled() const { return timer_.isActive(); }
    void SetEnabled(bool enabled);

    std::function<void(TTimer& sender)> OnTimer;

private:
    void Tick();

    int interval_;
    bool inHandler_ = false;
    QTimer timer_;
};
