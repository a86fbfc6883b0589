#include "sync_dispatcher.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <utility>
#include <thread>

namespace sonivex {

namespace {

struct Dispatcher {
    std::mutex lock;
    std::condition_variable posted;
    struct Pending {
        SyncEvent event;
        bool coalesce;
    };
    std::deque<Pending> queue;
    // The syncs (with their channels) that have a state event waiting.
    std::set<std::pair<DWORD, HSYNC>> waitingState;
    std::function<bool(DWORD, HSYNC)> isAlive;
    bool started = false;

    void Run()
    {
        for (;;) {
            SyncEvent event;
            std::function<bool(DWORD, HSYNC)> alive;
            {
                std::unique_lock guard(lock);
                posted.wait(guard, [&] { return !queue.empty(); });
                const Pending next = queue.front();
                queue.pop_front();
                event = next.event;
                // From here on a new state is a new event: this one may
                // already have read the one before it.
                if (next.coalesce) waitingState.erase({event.channel, event.sync});
                alive = isAlive;
            }
            if (alive && !alive(event.channel, event.sync)) continue;
            event.proc(event.sync, event.channel, event.data, event.user);
        }
    }
};

Dispatcher& TheDispatcher()
{
    // Never destroyed: its thread may still be inside a callback at exit.
    static Dispatcher* dispatcher = new Dispatcher;
    return *dispatcher;
}

}  // namespace

void SetSyncLiveness(std::function<bool(DWORD, HSYNC)> isAlive)
{
    Dispatcher& d = TheDispatcher();
    std::lock_guard guard(d.lock);
    d.isAlive = std::move(isAlive);
}

void PostSync(const SyncEvent& event, bool coalesce)
{
    Dispatcher& d = TheDispatcher();
    {
        std::lock_guard guard(d.lock);
        if (coalesce && !d.waitingState.insert({event.channel, event.sync}).second) return;
        d.queue.push_back({event, coalesce});
        if (!d.started) {
            d.started = true;
            std::thread([&d] { d.Run(); }).detach();
        }
    }
    d.posted.notify_one();
}

}  // namespace sonivex
