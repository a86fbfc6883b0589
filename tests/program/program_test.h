// What the program's tests share: a QApplication on the offscreen platform,
// a fresh current folder for each test (where the settings file lives), and
// a fake server that every station address reaches through, as the proxy
// of the environment: the catalogue's real addresses never leave the machine.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <unistd.h>

#include "Main.h"
#include "fake_server.h"
#include "main_rules.h"
#include "status_bar.h"
#include "stream_worker.h"
#include "test_sounds.h"
#include "window_messages.h"

namespace program_test {

// Runs the event loop until done() or the timeout.
inline bool Pump(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

inline std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

inline const std::string& Tone()
{
    static const std::string tone = kit::EncodeTone("mp3", 6, 1000);
    return tone;
}

// An ICY station as a script: its head, then the tone with titles.
inline kit::Script Station(const std::string& name, std::vector<std::string> titles = {},
                           const std::string& bitrate = "128")
{
    return kit::Script()
        .Send(kit::Script::IcyHead({"icy-name:" + name, "icy-br:" + bitrate, "content-type:audio/mpeg",
                                    "icy-metaint:8192"}))
        .Repeat(kit::IcyInterleave(Tone().substr(0, 8192 * 12), 8192, std::move(titles)), 0);
}

struct ProgramTest : testing::Test {
    kit::FakeServer proxy;
    std::string folder;
    std::string previousFolder;
    std::unique_ptr<TFormMain> window;

    void SetUp() override
    {
        char name[] = "/tmp/ondalux-program-XXXXXX";
        folder = mkdtemp(name);
        previousFolder = std::filesystem::current_path();
        std::filesystem::current_path(folder);
        setenv("http_proxy", proxy.Url("").c_str(), 1);
        setenv("no_proxy", "", 1);
        setenv("ONDALUX_MESSAGE_LOG", (folder + "/messages.log").c_str(), 1);
        // Unrouted addresses: a server that is not there.
        proxy.SetFallback(kit::Script().Send(kit::Script::HttpHead(404, "Not Found", {})));
    }

    void TearDown() override
    {
        Stop();
        std::filesystem::current_path(previousFolder);
        std::filesystem::remove_all(folder);
        unsetenv("http_proxy");
        unsetenv("ONDALUX_MESSAGE_LOG");
    }

    void Start()
    {
        window = std::make_unique<TFormMain>();
        window->show();
    }

    // Closes the window as its close box would and destroys it.
    void Stop()
    {
        if (!window) return;
        window->close();
        window.reset();
        Pump([] { return !WorkerBusy.load(); }, 2000);
    }

    bool WorkerDone(int timeoutMs = 8000)
    {
        return Pump([] { return !WorkerBusy.load(); }, timeoutMs);
    }

    std::string Panel(int panel) const { return window->StatusBar->Text(panel); }
    std::string Settings() const { return ReadFile(folder + "/Ondalux.ini"); }
    std::string Messages() const { return ReadFile(folder + "/messages.log"); }
};

}  // namespace program_test
