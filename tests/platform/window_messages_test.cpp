// Messages from the program's threads to the windows of the main thread, on
// the offscreen platform. Every wait is bounded, so a fault fails its test
// instead of hanging the run.
#include "window_messages.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QThread>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr auto kPatience = 5s;
constexpr int kMessagesPerThread = 20;

// Waits until done() holds, running the main thread's event loop meanwhile
// when pump is set. False when the time runs out first.
bool WaitUntil(const std::function<bool()>& done, bool pump,
               std::chrono::milliseconds patience = kPatience)
{
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        if (pump)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Runs the main thread's event loop until everything queued for it so far
// has been handled: a call queued after it has run. Messages that must not
// arrive have had their chance by then.
bool HandleWhatIsQueued()
{
    auto handled = std::make_shared<std::atomic<bool>>(false);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [handled] { *handled = true; }, Qt::QueuedConnection);
    return WaitUntil([&] { return handled->load(); }, true);
}

// Waits, without the event loop, until `count` senders are asleep in their
// send to the window.
bool SendersWaiting(HWND window, int count)
{
    return WaitUntil([&] { return WaitingSends(window) == count; }, false);
}

// What a thread of its own did. The thread is detached and shares this with
// the test, so a send that never returns cannot hang the run or outlive what
// it writes to.
struct Outcome {
    std::atomic<bool> done{false};
    std::atomic<LRESULT> result{-1};
    std::vector<LRESULT> results;  // read only once done
};

std::shared_ptr<Outcome> OnOtherThread(std::function<LRESULT(Outcome&)> work)
{
    auto outcome = std::make_shared<Outcome>();
    std::thread([outcome, work = std::move(work)] {
        outcome->result = work(*outcome);
        outcome->done = true;
    }).detach();
    return outcome;
}

LRESULT Send(HWND window, UINT message, WPARAM wParam, const std::string& text = {})
{
    return SendMessageA(window, message, wParam, reinterpret_cast<LPARAM>(text.c_str()));
}

// A window whose handler notes what it is sent and answers wParam + 1000.
struct RecordingWindow {
    struct Received {
        UINT message;
        WPARAM wParam;
        std::string text;
        bool onMainThread;
    };

    RecordingWindow()
        : handle(RegisterWindow(&widget, [this](UINT message, WPARAM wParam, LPARAM lParam) {
              received.push_back({message, wParam, reinterpret_cast<const char*>(lParam),
                                  QThread::currentThread() == QCoreApplication::instance()->thread()});
              return static_cast<LRESULT>(wParam + 1000);
          }))
    {
    }

    ~RecordingWindow() { Unregister(); }

    void Unregister()
    {
        if (registered) {
            BeginClosing(handle);
            UnregisterWindow(handle);
            registered = false;
        }
    }

    QWidget widget;
    std::vector<Received> received;  // main thread only
    bool registered = true;
    const HWND handle;
};

TEST(WindowMessagesTest, TheMainThreadsSendIsHandledAtOnce)
{
    RecordingWindow window;
    EXPECT_EQ(WidgetOf(window.handle), &window.widget);
    EXPECT_EQ(Send(window.handle, WM_USER + 1, 7, "now"), 1007);
    ASSERT_EQ(window.received.size(), 1u);
    EXPECT_EQ(window.received[0].message, WM_USER + 1);
    EXPECT_EQ(window.received[0].wParam, 7u);
    EXPECT_EQ(window.received[0].text, "now");
    EXPECT_TRUE(window.received[0].onMainThread);

    EXPECT_EQ(Send(nullptr, WM_USER, 1), 0);
    EXPECT_EQ(WidgetOf(nullptr), nullptr);
}

TEST(WindowMessagesTest, AnotherThreadsSendWaitsUntilTheEventLoopHandlesIt)
{
    RecordingWindow window;
    const auto outcome = OnOtherThread([handle = window.handle](Outcome&) {
        const std::string text = "Кино";  // lives only for the call
        return Send(handle, WM_USER + 2, 5, text);
    });
    // The sender is asleep in its send, and nothing is handled while the
    // event loop does not run.
    ASSERT_TRUE(SendersWaiting(window.handle, 1));
    EXPECT_FALSE(outcome->done);
    EXPECT_TRUE(window.received.empty());

    ASSERT_TRUE(WaitUntil([&] { return outcome->done.load(); }, true));
    EXPECT_EQ(WaitingSends(window.handle), 0);
    EXPECT_EQ(outcome->result, 1005);
    ASSERT_EQ(window.received.size(), 1u);
    EXPECT_EQ(window.received[0].message, WM_USER + 2);
    EXPECT_EQ(window.received[0].text, "Кино");
    EXPECT_TRUE(window.received[0].onMainThread);
}

TEST(WindowMessagesTest, EachThreadsMessagesArriveInOrderWithTheirResults)
{
    RecordingWindow window;
    std::vector<std::shared_ptr<Outcome>> outcomes;
    for (UINT thread = 0; thread < 2; ++thread) {
        outcomes.push_back(OnOtherThread([handle = window.handle, thread](Outcome& outcome) {
            for (int i = 0; i < kMessagesPerThread; ++i) {
                const std::string text = std::to_string(thread) + ":" + std::to_string(i);
                outcome.results.push_back(Send(handle, WM_USER + thread, i, text));
            }
            return LRESULT{0};
        }));
    }
    ASSERT_TRUE(WaitUntil([&] { return outcomes[0]->done && outcomes[1]->done; }, true));

    for (UINT thread = 0; thread < 2; ++thread) {
        SCOPED_TRACE(thread);
        std::vector<std::string> texts;
        for (const auto& received : window.received) {
            EXPECT_TRUE(received.onMainThread);
            if (received.message == WM_USER + thread) {
                EXPECT_EQ(received.wParam, texts.size());
                texts.push_back(received.text);
            }
        }
        ASSERT_EQ(texts.size(), static_cast<std::size_t>(kMessagesPerThread));
        ASSERT_EQ(outcomes[thread]->results.size(), texts.size());
        for (int i = 0; i < kMessagesPerThread; ++i) {
            EXPECT_EQ(texts[i], std::to_string(thread) + ":" + std::to_string(i));
            EXPECT_EQ(outcomes[thread]->results[i], 1000 + i);
        }
    }
}

TEST(WindowMessagesTest, ClosingReleasesWaitingSendersAndRefusesLaterOnes)
{
    RecordingWindow window;
    const auto send = [handle = window.handle](WPARAM wParam) {
        return OnOtherThread([handle, wParam](Outcome&) { return Send(handle, WM_USER, wParam, "gone"); });
    };
    const auto waiting = send(1);
    ASSERT_TRUE(SendersWaiting(window.handle, 1));
    ASSERT_FALSE(waiting->done);

    // Released without the event loop's help, and the message is dropped.
    BeginClosing(window.handle);
    ASSERT_TRUE(WaitUntil([&] { return waiting->done.load(); }, false));
    EXPECT_EQ(waiting->result, 0);
    EXPECT_EQ(WaitingSends(window.handle), 0);
    const auto later = send(2);
    ASSERT_TRUE(WaitUntil([&] { return later->done.load(); }, false));
    EXPECT_EQ(later->result, 0);
    EXPECT_EQ(Send(window.handle, WM_USER, 3), 0);
    // The first message is still queued: handled now, it must be dropped.
    ASSERT_TRUE(HandleWhatIsQueued());
    EXPECT_TRUE(window.received.empty());

    window.Unregister();
    EXPECT_EQ(WidgetOf(window.handle), nullptr);
    EXPECT_EQ(Send(window.handle, WM_USER, 4), 0);
    const auto afterwards = send(5);
    ASSERT_TRUE(WaitUntil([&] { return afterwards->done.load(); }, false));
    EXPECT_EQ(afterwards->result, 0);
    ASSERT_TRUE(HandleWhatIsQueued());
    EXPECT_TRUE(window.received.empty());
}

}  // namespace
