#pragma once

#include <QCoreApplication>

#include <functional>
#include <thread>

// Keeps the window live while the HTTP client blocks the GUI thread on the network. The window
// owns the one instance; the client finds it through Instance() without being linked to it.
class TIdAntiFreeze final {
public:
    explicit TIdAntiFreeze(std::function<void()> pump = [] { QCoreApplication::processEvents(); });
    ~TIdAntiFreeze();
    TIdAntiFreeze(const TIdAntiFreeze&) = delete;
    TIdAntiFreeze& operator=(const TIdAntiFreeze&) = delete;

    // The live instance, or nullptr.
    static TIdAntiFreeze* Instance();

    bool Active = true;
    // The window always has priority here: the pump lets it process everything pending.
    bool ApplicationHasPriority = true;
    // Length of one wait slice in ms; a slice that ends without data pumps.
    int IdleTimeOut = 250;
    // When false, a wait slice that ends with data pumps as well.
    bool OnlyWhenIdle = true;

    // Runs the pump when active and called on the thread that created the instance; then raises
    // AbortedError when an abort has been requested.
    void DoProcess();

private:
    std::function<void()> pump_;
    std::thread::id ownerThread_;
};
