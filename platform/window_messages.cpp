#include "window_messages.h"

#include <QApplication>
#include <QPointer>
#include <QThread>
#include <QWidget>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

// One message handed from another thread to the main thread. The sender owns
// it and waits on `settled` until `state` is Done; the registry lock guards
// every field but the four that describe the message.
struct Message {
    enum class State { Queued, Handling, Done };

    Message(HWND w, UINT m, WPARAM wp, LPARAM lp) : window(w), message(m), wParam(wp), lParam(lp)
    {
    }

    const HWND window;
    const UINT message;
    const WPARAM wParam;
    const LPARAM lParam;
    State state = State::Queued;
    // Set by the sender just before it sleeps on `settled`. The wait gives
    // the lock up only once the sender is asleep, so whoever holds the lock
    // and finds this set on a message that is not Done knows its sender is
    // waiting.
    bool asleep = false;
    LRESULT result = 0;
    std::condition_variable settled;
};

}  // namespace

struct WindowHandle {
    // Read on the main thread only: the widget may go away before the window
    // is unregistered, and then WidgetOf answers null.
    QPointer<QWidget> widget;
    // Shared, so that a handler that unregisters its own window keeps running
    // on a live function object.
    std::shared_ptr<const MessageHandler> handler;
    bool closing = false;
    // Messages of other threads for this window that are not Done yet.
    std::vector<Message*> waiting;
};

namespace {

// Every window ever registered. A handle stays allocated after it is
// unregistered, so its address is never given to another window and a stale
// handle can only ever fail to match a live one. The program has a handful of
// windows, so the retired ones cost nothing worth reclaiming.
//
// The registry is never destroyed: threads that outlive main() may still
// send, and they must find a working lock.
struct Registry {
    std::mutex lock;
    std::unordered_set<HWND> live;
    std::vector<std::unique_ptr<WindowHandle>> all;
};

Registry& TheRegistry()
{
    static Registry* registry = new Registry;
    return *registry;
}

// Under the registry lock: the window when it is registered and not closing.
WindowHandle* OpenWindow(Registry& registry, HWND window)
{
    if (window == nullptr || !registry.live.contains(window) || window->closing)
        return nullptr;
    return window;
}

// Under the registry lock: ends the sender's wait with result.
void Settle(Message& message, LRESULT result)
{
    if (message.state == Message::State::Done)
        return;
    auto& waiting = message.window->waiting;
    waiting.erase(std::remove(waiting.begin(), waiting.end(), &message), waiting.end());
    message.state = Message::State::Done;
    message.result = result;
    message.settled.notify_one();
}

// Under the registry lock: releases every sender waiting for the window,
// including one whose message is being handled right now, so that closing
// never waits for anybody.
void ReleaseWaiting(WindowHandle& window)
{
    window.closing = true;
    while (!window.waiting.empty())
        Settle(*window.waiting.back(), 0);
}

bool OnMainThread()
{
    QCoreApplication* application = QCoreApplication::instance();
    return application != nullptr && QThread::currentThread() == application->thread();
}

// Carries a message through the main thread's event queue. Qt may copy the
// queued call, so the copies share one courier; when the last copy goes away
// without having delivered the message (the application quit with events
// still queued), the sender is released with 0 rather than left waiting.
class Courier {
public:
    explicit Courier(std::shared_ptr<Message> message) : message_(std::move(message)) {}
    Courier(const Courier&) = delete;
    Courier& operator=(const Courier&) = delete;

    ~Courier()
    {
        Registry& registry = TheRegistry();
        std::lock_guard guard(registry.lock);
        if (message_->state == Message::State::Queued)
            Settle(*message_, 0);
    }

    // Main thread. A message whose sender has already been released is
    // dropped unread: its lParam may point to a text that is gone.
    void Deliver()
    {
        Registry& registry = TheRegistry();
        std::shared_ptr<const MessageHandler> handler;
        {
            std::lock_guard guard(registry.lock);
            if (message_->state != Message::State::Queued)
                return;
            if (OpenWindow(registry, message_->window) == nullptr) {
                Settle(*message_, 0);
                return;
            }
            message_->state = Message::State::Handling;
            handler = message_->window->handler;
        }
        const LRESULT result = (*handler)(message_->message, message_->wParam, message_->lParam);
        std::lock_guard guard(registry.lock);
        Settle(*message_, result);
    }

private:
    std::shared_ptr<Message> message_;
};

LRESULT SendFromOtherThread(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr)
        return 0;
    Registry& registry = TheRegistry();
    auto pending = std::make_shared<Message>(window, message, wParam, lParam);
    {
        std::lock_guard guard(registry.lock);
        if (OpenWindow(registry, window) == nullptr)
            return 0;
        window->waiting.push_back(pending.get());
    }
    auto courier = std::make_shared<Courier>(pending);
    const bool queued = QMetaObject::invokeMethod(
        application, [courier] { courier->Deliver(); }, Qt::QueuedConnection);
    courier.reset();

    std::unique_lock guard(registry.lock);
    if (!queued)
        Settle(*pending, 0);
    pending->asleep = true;
    pending->settled.wait(guard, [&] { return pending->state == Message::State::Done; });
    return pending->result;
}

}  // namespace

HWND RegisterWindow(QWidget* widget, MessageHandler handler)
{
    auto window = std::make_unique<WindowHandle>();
    window->widget = widget;
    window->handler = std::make_shared<const MessageHandler>(std::move(handler));
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    HWND handle = window.get();
    registry.all.push_back(std::move(window));
    registry.live.insert(handle);
    return handle;
}

void BeginClosing(HWND window)
{
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    if (window != nullptr && registry.live.contains(window))
        ReleaseWaiting(*window);
}

void UnregisterWindow(HWND window)
{
    Registry& registry = TheRegistry();
    std::shared_ptr<const MessageHandler> handler;
    {
        std::lock_guard guard(registry.lock);
        if (window == nullptr || registry.live.erase(window) == 0)
            return;
        ReleaseWaiting(*window);
        window->widget = nullptr;
        handler = std::move(window->handler);
    }
    // The handler's captures are destroyed here, outside the lock, in case
    // their destructors send messages of their own.
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!OnMainThread())
        return SendFromOtherThread(window, message, wParam, lParam);
    std::shared_ptr<const MessageHandler> handler;
    {
        Registry& registry = TheRegistry();
        std::lock_guard guard(registry.lock);
        if (OpenWindow(registry, window) == nullptr)
            return 0;
        handler = window->handler;
    }
    return (*handler)(message, wParam, lParam);
}

QWidget* WidgetOf(HWND window)
{
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    if (window == nullptr || !registry.live.contains(window))
        return nullptr;
    return window->widget.data();
}

int WaitingSends(HWND window)
{
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    if (window == nullptr || !registry.live.contains(window))
        return 0;
    // Settle takes a message off the list, so every one left is not Done.
    return static_cast<int>(std::count_if(window->waiting.begin(), window->waiting.end(),
                                          [](const Message* message) { return message->asleep; }));
}
