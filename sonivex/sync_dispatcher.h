// Runs the application's sync callbacks: one thread of the library's own,
// events in the order they were posted, no lock held while a callback runs.
// A callback that blocks delays later syncs only. The thread lives for the
// rest of the process once started, so nothing ever waits for it.
#pragma once

#include <cstdint>
#include <functional>

#include "sonivex.h"

namespace sonivex {

struct SyncEvent {
    HSYNC sync;
    DWORD channel;
    DWORD data;
    SYNCPROC* proc;
    void* user;
};

// Queues an event. Before it runs, isAlive(channel) is asked again, so a
// freed stream's pending syncs are dropped.
//
// A state event (coalesce true: a new title, which the callback reads when
// it runs) is not queued again while the same sync of the same channel
// still waits: however fast a server changes its titles, each sync has at
// most one such event pending, and it reads the newest.
void PostSync(const SyncEvent& event, bool coalesce = false);
void SetSyncLiveness(std::function<bool(DWORD channel, HSYNC sync)> isAlive);

}  // namespace sonivex
