#ifndef TIDEWALL_FOUNDATION_SYNC_H
#define TIDEWALL_FOUNDATION_SYNC_H

#include <mutex>

// Sleep between retries; goes through the host backend so tests only advance a fake clock.
void ZUSLEEP_InTeRnAl(unsigned milliseconds);

// A process-wide lock.
class TsCriticalSection {
public:
    void enter() { mutex_.lock(); }
    void leave() { mutex_.unlock(); }

private:
    std::recursive_mutex mutex_;
};

#endif
