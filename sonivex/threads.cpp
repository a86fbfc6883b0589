#include "threads.h"

#include <openssl/crypto.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace sonivex {

namespace {

std::mutex g_lock;
std::condition_variable g_ended;
int g_running = 0;

}  // namespace

void LaunchThread(std::function<void()> body)
{
    {
        std::lock_guard guard(g_lock);
        ++g_running;
    }
    try {
        std::thread([body = std::move(body)] {
            body();
            OPENSSL_thread_stop();
            std::lock_guard guard(g_lock);
            --g_running;
            g_ended.notify_all();
        }).detach();
    } catch (...) {
        std::lock_guard guard(g_lock);
        --g_running;
        throw;
    }
}

bool WaitForThreads(std::chrono::milliseconds limit)
{
    std::unique_lock guard(g_lock);
    return g_ended.wait_for(guard, limit, [] { return g_running == 0; });
}

}  // namespace sonivex
