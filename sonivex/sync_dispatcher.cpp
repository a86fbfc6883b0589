#include "sync_dispatcher.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace sonivex {

namespace {

struct Dispatcher {
    std::mutex lock;
    std::condition_variable posted;
    std::deque<SyncEvent> queue;
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
                event = queue.front();
                queue.pop_front();
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

void PostSync(const SyncEvent& event)
{
    Dispatcher& d = TheDispatcher();
    {
        std::lock_guard guard(d.lock);
        d.queue.push_back(event);
        if (!d.started) {
            d.started = true;
            std::thread([&d] { d.Run(); }).detach();
        }
    }
    d.posted.notify_one();
}

}  // namespace sonivex
