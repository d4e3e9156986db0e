#pragma once

#include "platform/NameResolution.h"

#include <chrono>
#include <thread>

// Stands for a name server that does not answer: for the life of the object every lookup waits
// three seconds and then fails. Nothing is sent anywhere.
class SlowNameServer final {
public:
    SlowNameServer() : previous_(ReplaceNameResolver(&Lookup)) {}
    ~SlowNameServer() { ReplaceNameResolver(previous_); }
    SlowNameServer(const SlowNameServer&) = delete;
    SlowNameServer& operator=(const SlowNameServer&) = delete;

    static constexpr std::chrono::milliseconds Delay{3000};

private:
    static int Lookup(const char*, const char*, const addrinfo*, addrinfo**) {
        std::this_thread::sleep_for(Delay);
        return EAI_AGAIN;
    }
    NameResolver previous_;
};
