// The program's main window on the offscreen platform: start-up and the
// settings file, the station panel, the status display, the ticker, the
// volume and the pictures, against stations served by a fake server.
#include <QAccessible>
#include <QButtonGroup>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QRadioButton>
#include <QScrollBar>
#include <QScreen>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QToolButton>
#include <optional>
#include <thread>

#include "StationAddresses.h"
#include "circle_vis.h"
#include "icecast_server.h"
#include "osc_vis.h"
#include "paint_box.h"
#include "program_test.h"
#include "sonivex.h"
#include "station_button.h"

namespace program_test {
namespace {

std::string Decorated(const std::string& address, int number)
{
    return address + Ansi("    \\ Станция ") + std::to_string(number) + " \\";
}

void WriteSettings(const std::string& lastStation, const std::string& lastNumber)
{
    std::ofstream("Ondalux.ini", std::ios::binary)
        << "[Ondalux]\r\nLastStation=" << lastStation << "\r\nLastNamber=" << lastNumber << "\r\n";
}

TEST_F(ProgramTest, AFirstRunPlaysSlotOneAndLeavesTheSettingsBehind)
{
    proxy.Route(StationAddresses[0], Station("Slot One"));
    Start();
    EXPECT_EQ(window->EditText(), Decorated(StationAddresses[0], 1));
    EXPECT_EQ(StationIndex, 0);
    ASSERT_TRUE(WorkerDone());
    EXPECT_EQ(proxy.Requests().at(0).rfind(std::string("GET ") + StationAddresses[0] + " ", 0), 0u);
    EXPECT_EQ(Panel(0), "Slot One");
    Stop();
    EXPECT_EQ(Settings(), std::string("[Ondalux]\r\nLastStation=") + StationAddresses[0] + "\r\nLastNamber=0\r\n");
}

TEST_F(ProgramTest, AStoredIndexOutOfRangeShowsAsStoredAndPlaysClamped)
{
    struct Case {
        const char* stored;
        int shown;
        int played;
    };
    for (const Case c : {Case{"150", 151, 99}, Case{"-5", -4, 0}, Case{"letters", 1, 0}, Case{"42", 43, 42}}) {
        SCOPED_TRACE(c.stored);
        WriteSettings("my own text", c.stored);
        proxy.Route(StationAddresses[c.played], Station("Clamped"));
        Start();
        // The stored address is only shown; the slot is what plays.
        EXPECT_EQ(window->EditText(), Decorated("my own text", c.shown));
        EXPECT_EQ(StationIndex, c.played);
        ASSERT_TRUE(WorkerDone());
        EXPECT_NE(proxy.Requests().back().find(StationAddresses[c.played]), std::string::npos);
        Stop();
        // The decoration is not stored, so it does not grow from run to run.
        EXPECT_EQ(Settings(), "[Ondalux]\r\nLastStation=my own text\r\nLastNamber=" +
                                  std::to_string(c.played) + "\r\n");
    }
}

TEST_F(ProgramTest, StationButtonsPlayTheirSlotAndAnEditedBoxIsStoredAsItIs)
{
    for (const int slot : {1, 100, 17, 70}) proxy.Route(StationAddresses[slot - 1], Station("Slot"));
    Start();
    ASSERT_TRUE(WorkerDone());
    for (const int slot : {100, 1, 17, 70}) {
        SCOPED_TRACE(slot);
        QTest::mouseClick(window->StationButtons[slot - 1], Qt::LeftButton);
        EXPECT_EQ(window->EditText(), StationAddresses[slot - 1]);
        EXPECT_EQ(StationIndex, slot - 1);
        EXPECT_TRUE(window->StationButtons[slot - 1]->isChecked());
        ASSERT_TRUE(WorkerDone());
        EXPECT_EQ(Panel(0), "Slot");
    }
    // Slots 17 and 70 are one station; the index remembers which was clicked.
    EXPECT_STREQ(StationAddresses[16], StationAddresses[69]);
    window->SetEditText("http://typed.invalid/stream");
    Stop();
    EXPECT_EQ(Settings(), "[Ondalux]\r\nLastStation=http://typed.invalid/stream\r\nLastNamber=69\r\n");
}

TEST_F(ProgramTest, AStartWhileAWorkerRunsIsRefusedWithABeep)
{
    // Slot 1 answers and then keeps the worker waiting for its buffer.
    proxy.Route(StationAddresses[0],
                kit::Script().Send(kit::Script::IcyHead({"content-type:audio/mpeg"}) + Tone().substr(0, 6000)).Hang());
    proxy.Route(StationAddresses[4], Station("Five"));
    Start();
    ASSERT_TRUE(Pump([&] { return Panel(0).rfind(Ansi("Заполняем буфер... "), 0) == 0; }, 5000));
    ASSERT_TRUE(WorkerBusy.load());
    QTest::mouseClick(window->StationButtons[4], Qt::LeftButton);
    EXPECT_EQ(window->EditText(), StationAddresses[4]);  // shown anyway
    EXPECT_TRUE(window->StationButtons[4]->isChecked());
    EXPECT_EQ(StationIndex, 0);  // not taken
    window->SetEditText("http://typed.invalid/");
    QTest::keyClick(window->EditInput, Qt::Key_Return);
    EXPECT_EQ(Messages(), "beep\nbeep\n");
    EXPECT_EQ(proxy.Requests().size(), 1u);  // nothing else was started
}

TEST_F(ProgramTest, AHostileStationHoldsTheWorkerOnlyWithinItsBounds)
{
    // A connect limit of 1 s: an open ends by 3 s, whatever its server does.
    BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, 1000);
    struct Restore {
        ~Restore() { BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, 5000); }
    } restore;
    const std::string head = kit::Script::IcyHead({"content-type:audio/mpeg", "icy-name:Trickle"});
    // A byte every 100 ms: the stream never gets going.
    proxy.Route(StationAddresses[0], kit::Script().Send(head).SendSlowly(Tone(), 1, 100));
    // Enough to start, then a kilobyte a second: the buffer rises all the
    // time, too slowly to fill.
    proxy.Route(StationAddresses[1],
                kit::Script().Send(head + Tone().substr(0, 20000)).SendSlowly(Tone().substr(20000), 100, 100));
    proxy.Route(StationAddresses[2], Station("Next"));
    QElapsedTimer timer;
    timer.start();
    Start();
    ASSERT_TRUE(WorkerDone(10000));
    std::printf("[ program  ] a dribbled station held the worker %lld ms\n", timer.elapsed());
    EXPECT_LT(timer.elapsed(), 4500);
    EXPECT_EQ(Panel(0), Ansi("Не могу соединиться с сервером..."));
    // The next station is taken at once.
    QTest::mouseClick(window->StationButtons[2], Qt::LeftButton);
    EXPECT_EQ(StationIndex, 2);
    ASSERT_TRUE(WorkerDone());
    EXPECT_EQ(Panel(0), "Next");
    EXPECT_EQ(Messages(), "");

    // However slowly a buffer rises, the wait ends after its limit (30 s;
    // 3 s here) and the stream plays with what it has.
    EXPECT_EQ(BufferWaitLimit.load(), std::chrono::seconds(30));
    BufferWaitLimit = std::chrono::seconds(3);
    struct RestoreLimit {
        ~RestoreLimit() { BufferWaitLimit = kBufferWaitLimit; }
    } restoreLimit;
    timer.restart();
    QTest::mouseClick(window->StationButtons[1], Qt::LeftButton);
    EXPECT_EQ(StationIndex, 1);
    ASSERT_TRUE(WorkerDone(15000));
    std::printf("[ program  ] a trickling station held the worker %lld ms\n", timer.elapsed());
    EXPECT_GE(timer.elapsed(), 3000);
    EXPECT_LT(timer.elapsed(), 6000);
    EXPECT_EQ(Panel(0), "Trickle");
    EXPECT_NE(CurrentStream.load(), 0u);
    EXPECT_EQ(Messages(), "");
}

TEST_F(ProgramTest, ALostConnectionShowsInPanelOneUntilTheSoundIsBack)
{
    const std::string head = kit::Script::IcyHead(
        {"icy-name:Comes Back", "icy-br:128", "content-type:audio/mpeg"});
    // Dropped a moment after it started, then served again.
    proxy.RouteSequence(StationAddresses[0],
                        {kit::Script().Send(head + Tone()).Pause(1500).Close(),
                         kit::Script().Send(head).Repeat(Tone(), 0)});
    Start();
    ASSERT_TRUE(WorkerDone());
    EXPECT_EQ(Panel(1), "bitrate: 128");
    NewStationFlag = 0;
    QLabel* panel = window->StatusBar->PanelLabel(1);
    ASSERT_TRUE(Pump([&] { return Panel(1) == Ansi("Переподключение..."); }, 10000));
    EXPECT_EQ(panel->toolTip(), QString::fromUtf8("Связь потеряна, переподключаемся (попытка 1)"));
    EXPECT_EQ(Panel(0), "Comes Back");
    ASSERT_TRUE(Pump([&] { return Panel(1) == "bitrate: 128"; }, 15000));
    EXPECT_EQ(panel->toolTip(), QString());
    EXPECT_EQ(Panel(0), "Comes Back");
    EXPECT_EQ(NewStationFlag, 0);  // nothing for the log
    EXPECT_EQ(proxy.Requests().size(), 2u);
}

TEST_F(ProgramTest, EveryFailureSaysWhyInPanelOne)
{
    BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, 1000);
    struct Restore {
        ~Restore() { BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, 5000); }
    } restore;
    // Typed addresses on this machine are reached directly, the catalogue's
    // through the fake proxy.
    setenv("no_proxy", "127.0.0.1,no-such-host.invalid", 1);
    kit::SilentServer silent;
    kit::FakeServer direct;
    direct.Route("/page", kit::Script().Send(kit::Script::HttpHead(200, "OK", {"Content-Type: text/html"}) +
                                             "<html><body>Station offline</body></html>"));
    std::string noise(70000, '\0');
    for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 7919 + 13) % 251);
    direct.Route("/noise", kit::Script().Send(kit::Script::HttpHead(200, "OK", {"Content-Type: audio/mpeg"}) + noise));
    struct Case {
        std::string address;
        const char* panel;
        const char* hint;
    };
    const Case cases[] = {
        {"http://no-such-host.invalid/live", "Адрес не найден", "Сервера с таким именем нет: проверьте адрес"},
        {"http://127.0.0.1:" + std::to_string(kit::UnusedPort()) + "/", "Отказ в соединении",
         "Сервер отказал в соединении или недоступен"},
        {silent.Url("/"), "Нет ответа", "Сервер не ответил за 1 с"},
        {"http://radio.example/gone", "HTTP/1.0 404 Not Found", "Сервер ответил ошибкой: HTTP/1.0 404 Not Found"},
        {direct.Url("/page"), "Не аудиопоток", "По адресу нет аудиопотока: веб-страница или плейлист без станций"},
        {direct.Url("/noise"), "Формат не поддержан", "Формат потока не поддерживается"},
        {"ftp://radio.example/live", "Неверный адрес", "Адрес станции начинается с http:// или https://"},
    };
    Start();
    ASSERT_TRUE(WorkerDone());
    QLabel* panel = window->StatusBar->PanelLabel(1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        window->SetEditText(c.address);
        QTest::keyClick(window->EditInput, Qt::Key_Return);
        ASSERT_TRUE(WorkerDone(10000));
        EXPECT_EQ(Panel(0), Ansi("Не могу соединиться с сервером..."));  // as always
        EXPECT_EQ(Shown(Panel(1)), QString::fromUtf8(c.panel));
        EXPECT_EQ(panel->toolTip(), QString::fromUtf8(c.hint));
        // The short text fits the panel.
        EXPECT_LE(QFontMetrics(panel->font()).horizontalAdvance(panel->text()), panel->width());
    }
    // A new start clears the reason.
    proxy.Route(StationAddresses[4], Station("Fine"));
    QTest::mouseClick(window->StationButtons[4], Qt::LeftButton);
    ASSERT_TRUE(WorkerDone());
    EXPECT_EQ(Panel(1), "bitrate: 128");
    EXPECT_EQ(panel->toolTip(), QString());
}

TEST(FailureReason, EveryErrorHasAShortTextAndASentence)
{
    // Those the program cannot meet against a local server: a refused
    // certificate, and an error code it does not know.
    EXPECT_EQ(FailureReason(BASS_ERROR_TLS, "", 5).panel, Ansi("Сертификат отклонён"));
    EXPECT_EQ(FailureReason(BASS_ERROR_TLS, "", 5).hint,
              Ansi("Защищённое соединение не установлено: сертификат сервера не принят"));
    EXPECT_EQ(FailureReason(99, "", 5).hint, Ansi("Поток не открылся (код ошибки 99)"));
    // An HTTP failure without a status line of the server's.
    EXPECT_EQ(FailureReason(BASS_ERROR_HTTP, "", 5).panel, Ansi("Ошибка сервера"));
}

// The status bar, and the trace --verbose writes, of one start that plays
// and one that fails.
TEST_F(ProgramTest, TheStatusBarFollowsASuccessfulAndAFailedStart)
{
    std::FILE* trace = std::tmpfile();
    ASSERT_NE(trace, nullptr);
    StreamTrace = trace;
    struct Restore {
        ~Restore() { StreamTrace = nullptr; }
    } restore;
    // A title with a control character in it, as a hostile server may send.
    proxy.Route(StationAddresses[0], Station("Radio Jazz", {"StreamTitle='Miles Davis - So\x1b[2JWhat';"}, " 128"));
    Start();
    ASSERT_TRUE(WorkerDone());
    EXPECT_EQ(Panel(0), "Radio Jazz");
    EXPECT_EQ(Panel(1), "bitrate:  128");  // the blank after the colon stays
    EXPECT_EQ(CurrentTitle, "Miles Davis - So\x1b[2JWhat");
    EXPECT_EQ(NewStationFlag, 1);
    EXPECT_NE(CurrentStream.load(), 0u);
    EXPECT_EQ(window->windowTitle(), Shown(CaptionPrefix));
    EXPECT_EQ(CaptionPrefix, Ansi("Ondalux ondalux.example  Исполнитель: "));

    NewStationFlag = 0;
    window->SetEditText("http://nowhere.invalid/");
    QTest::keyClick(window->EditInput, Qt::Key_Enter);
    ASSERT_TRUE(WorkerDone());
    EXPECT_EQ(Panel(0), Ansi("Не могу соединиться с сервером..."));
    EXPECT_EQ(Panel(1), "HTTP/1.0 404 Not Found");  // the server's status stays
    EXPECT_EQ(CurrentTitle, "");
    EXPECT_EQ(NewStationFlag, 1);
    EXPECT_EQ(CurrentStream.load(), 0u);
    EXPECT_EQ(StationIndex, 0);  // a typed address does not move the index

    StreamTrace = nullptr;
    std::rewind(trace);
    std::string written;
    for (int c = std::fgetc(trace); c != EOF; c = std::fgetc(trace)) written += static_cast<char>(c);
    std::fclose(trace);
    const std::string played = StationAddresses[0];
    EXPECT_EQ(written, "connecting: " + played + "\n" + "title: Miles Davis - So?[2JWhat\n" + "playing: " + played +
                           "\n" + "connecting: http://nowhere.invalid/\n" + "failed: http://nowhere.invalid/ (error " +
                           std::to_string(BASS_ERROR_HTTP) + ")\n");
}

TEST_F(ProgramTest, StatusTextsOneByOne)
{
    Start();
    WorkerDone();
    const HWND handle = window->Handle();
    const auto send = [&](TStreamStatus code, LPARAM value) { SendMessageA(handle, WM_STREAMSTATUS, code, value); };
    send(stBuffering, 42);
    EXPECT_EQ(Panel(0), Ansi("Заполняем буфер... 42%"));
    send(stBuffering, -3);
    EXPECT_EQ(Panel(0), Ansi("Заполняем буфер... -3%"));
    send(stConnecting, 0);
    EXPECT_EQ(Panel(0), "C" + Ansi("оединяемся..."));  // a Latin C
    EXPECT_EQ(Panel(0)[0], 'C');
    EXPECT_EQ(Panel(1), "");
    send(stServerStatus, reinterpret_cast<LPARAM>("ICY 200 OK"));
    EXPECT_EQ(Panel(1), "ICY 200 OK");
    send(stSongTitle, reinterpret_cast<LPARAM>(""));
    EXPECT_EQ(CurrentTitle, "");
    send(static_cast<TStreamStatus>(5), 0);  // no such code: nothing changes
    EXPECT_EQ(Panel(1), "ICY 200 OK");
}

TEST_F(ProgramTest, AStalledServerEndsTheWaitAndTheNextStartIsTaken)
{
    BASS_SetConfig(BASS_CONFIG_NET_READTIMEOUT, 1000);
    proxy.Route(StationAddresses[0],
                kit::Script().Send(kit::Script::IcyHead({"icy-name:Stalled", "content-type:audio/mpeg"}) +
                                   Tone().substr(0, 8000)).Hang());
    proxy.Route(StationAddresses[1], Station("Next"));
    Start();
    ASSERT_TRUE(WorkerDone(5000));
    // What it had still plays: the name is shown.
    EXPECT_EQ(Panel(0), "Stalled");
    QTest::mouseClick(window->StationButtons[1], Qt::LeftButton);
    EXPECT_EQ(StationIndex, 1);
    ASSERT_TRUE(WorkerDone());
    EXPECT_EQ(Panel(0), "Next");
    BASS_SetConfig(BASS_CONFIG_NET_READTIMEOUT, 10000);
}

TEST_F(ProgramTest, HttpHeadersNameTheStationToo)
{
    proxy.Route(StationAddresses[0],
                kit::Script()
                    .Send(kit::Script::HttpHead(200, "OK", {"Content-Type: audio/mpeg", "ICY-NAME:not this",
                                                            "icy-name:By HTTP", "icy-br:64"}))
                    .Repeat(Tone(), 0));
    Start();
    ASSERT_TRUE(WorkerDone());
    EXPECT_EQ(Panel(0), "By HTTP");
    EXPECT_EQ(Panel(1), "bitrate: 64");
}

TEST_F(ProgramTest, TitlesKeepTheirSemicolonsAndShowInTheirOwnEncoding)
{
    const std::string cyrillic = "\xCA\xE8\xED\xEE";   // "Кино" in windows-1251
    const std::string utf8 = "\xD0\x9A\xD0\xB8\xD0\xBD\xD0\xBE";  // "Кино" in UTF-8
    struct Case {
        std::string metadata, title;
    };
    for (const Case& c : {Case{"StreamTitle='Hall & Oates; Live';StreamUrl='x;y';", "Hall & Oates; Live"},
                          Case{"StreamTitle='" + cyrillic + "';", cyrillic},
                          Case{"StreamTitle='" + utf8 + "';", utf8}}) {
        proxy.Route(StationAddresses[0], Station("Titles", {c.metadata}));
        Start();
        ASSERT_TRUE(WorkerDone());
        EXPECT_EQ(CurrentTitle, c.title);
        // Both encodings show as the same letters.
        if (c.title != "Hall & Oates; Live") {
            EXPECT_EQ(Shown(CurrentTitle), QString::fromUtf8("Кино"));
        }
        Stop();
    }
}

TEST_F(ProgramTest, TheTickerScrollsTheTitleThroughTheTaskbarText)
{
    int position = 1;
    EXPECT_EQ(TickerStep("", position), QString(34, ' '));
    for (int tick = 2; tick <= 33; ++tick) EXPECT_EQ(TickerStep("", position), QString(35 - tick, ' ')) << tick;
    EXPECT_EQ(position, 1);  // 33 ticks make the cycle of an empty title

    position = 30;
    EXPECT_EQ(TickerStep(QString::fromUtf8("Кино"), position), QString::fromUtf8(" Кино    "));
    EXPECT_EQ(TickerStep(QString::fromUtf8("Кино"), position), QString::fromUtf8("Кино    "));
    EXPECT_EQ(TickerStep(QString::fromUtf8("Кино"), position), QString::fromUtf8("ино    "));
    // A shorter title while the position lies beyond it: one empty title.
    position = 60;
    EXPECT_EQ(TickerStep("ab", position), QString());
    EXPECT_EQ(position, 1);

    proxy.Route(StationAddresses[0], Station("Ticker", {"StreamTitle='Song';"}));
    Start();
    ASSERT_TRUE(WorkerDone());
    ASSERT_TRUE(Pump([] { return ApplicationTitle().trimmed() == "Song"; }, 15000));
    EXPECT_EQ(window->windowIconText(), ApplicationTitle());
}

TEST_F(ProgramTest, AnIcecastStationTypedIntoTheAddressBoxPlaysWithItsNameAndTitle)
{
    if (!kit::IcecastServer::Available()) GTEST_SKIP() << "icecast2 or ffmpeg missing";
    // The local server is reached directly, by ffmpeg's source too; the
    // catalogue's addresses still go to the fake proxy.
    setenv("no_proxy", "127.0.0.1", 1);
    kit::IcecastServer icecast;
    kit::SourceInfo info;
    info.name = "Ondalux Jazz";
    icecast.StartSource("/jazz.mp3", "mp3", 440, 128, info);
    // On the air for a while, so that the server's burst fills three
    // quarters of the buffer at once; of 2 s at 128 kbps, not the library's
    // 5 s, so that the title is heard 2 s after it is sent.
    ASSERT_TRUE(Pump([&] { return icecast.BurstBytes("/jazz.mp3") >= 32000 * 3 / 4; }, 15000));
    const DWORD usualBuffer = BASS_GetConfig(BASS_CONFIG_NET_BUFFER);
    BASS_SetConfig(BASS_CONFIG_NET_BUFFER, 2000);
    struct Restore {
        DWORD ms;
        ~Restore() { BASS_SetConfig(BASS_CONFIG_NET_BUFFER, ms); }
    } restore{usualBuffer};

    Start();
    ASSERT_TRUE(WorkerDone());  // slot 1 through the proxy: not found
    window->SetEditText(icecast.MountUrl("/jazz.mp3"));
    QTest::keyClick(window->EditInput, Qt::Key_Return);
    ASSERT_TRUE(WorkerDone(10000));
    EXPECT_EQ(Panel(0), "Ondalux Jazz");
    EXPECT_EQ(Panel(1), "HTTP/1.0 200 OK");  // no icy-br: the status stays
    EXPECT_NE(CurrentStream.load(), 0u);
    EXPECT_EQ(StationIndex, 0);

    const std::string title = "\xD0\x9A\xD0\xB8\xD0\xBD\xD0\xBE - Test";  // UTF-8 "Кино - Test"
    icecast.SetTitle("/jazz.mp3", title);
    EXPECT_TRUE(Pump([&] { return CurrentTitle == title; }, 15000)) << CurrentTitle;
    EXPECT_EQ(Shown(CurrentTitle), QString::fromUtf8("Кино - Test"));
    // It plays: the oscilloscope shows more than its flat line.
    EXPECT_TRUE(Pump([&] { return WaveCapture[100] != 0u; }, 3000));
}

TEST_F(ProgramTest, TheVolumeBarSetsTheMasterVolume)
{
    Start();
    EXPECT_EQ(window->ScrollBarVolume->value(), 100);
    EXPECT_EQ(window->GroupBoxVolume->title(), QString::fromUtf8("Громкость 100% "));
    for (const int position : {0, 50, 100, 75}) {
        window->ScrollBarVolume->setValue(position);
        EXPECT_FLOAT_EQ(BASS_GetVolume(), position / 100.0f);
        EXPECT_EQ(window->GroupBoxVolume->title(), QString::fromUtf8("Громкость ") + QString::number(position) + "% ");
    }
    // A master volume of 0.505 reads back as position 50 at the next start.
    Stop();
    BASS_SetVolume(0.505f);
    Start();
    EXPECT_EQ(window->ScrollBarVolume->value(), 50);
    EXPECT_FLOAT_EQ(BASS_GetVolume(), 0.5f);
    EXPECT_EQ(window->GroupBoxVolume->title(), QString::fromUtf8("Громкость 50% "));
    window->ScrollBarVolume->setValue(100);
}

TEST_F(ProgramTest, TheVolumeBarsKeysGoTheWayTheyPoint)
{
    Start();
    window->ScrollBarVolume->setFocus();
    window->ScrollBarVolume->setValue(50);
    struct Press {
        Qt::Key key;
        int position;
    };
    for (const Press press : {Press{Qt::Key_Left, 49}, Press{Qt::Key_Down, 48}, Press{Qt::Key_PageDown, 47},
                              Press{Qt::Key_Right, 48}, Press{Qt::Key_Up, 49}, Press{Qt::Key_PageUp, 50},
                              Press{Qt::Key_Home, 0}, Press{Qt::Key_End, 100}}) {
        SCOPED_TRACE(press.key);
        QTest::keyClick(window->ScrollBarVolume, press.key);
        EXPECT_EQ(window->ScrollBarVolume->value(), press.position);
        EXPECT_FLOAT_EQ(BASS_GetVolume(), press.position / 100.0f);
    }
}

TEST_F(ProgramTest, AltArrowsStepThroughThePresetsAndScreenReadersNameTheButtons)
{
    for (const int slot : {0, 1, 99}) proxy.Route(StationAddresses[slot], Station("Slot"));
    Start();
    window->activateWindow();
    ASSERT_TRUE(WorkerDone());
    // From the address box, where the keyboard is.
    window->EditInput->setFocus();
    struct Step {
        Qt::Key key;
        int slot;
    };
    for (const Step step : {Step{Qt::Key_Left, 99}, Step{Qt::Key_Right, 0}, Step{Qt::Key_Right, 1}}) {
        SCOPED_TRACE(step.slot);
        QTest::keyClick(window->EditInput, step.key, Qt::AltModifier);
        EXPECT_EQ(StationIndex, step.slot);
        EXPECT_TRUE(window->StationButtons[step.slot]->isChecked());
        EXPECT_EQ(window->EditText(), StationAddresses[step.slot]);
        ASSERT_TRUE(WorkerDone());
        EXPECT_NE(proxy.Requests().back().find(StationAddresses[step.slot]), std::string::npos);
    }
    // Plain arrows stay the address box's.
    QTest::keyClick(window->EditInput, Qt::Key_Left);
    EXPECT_EQ(StationIndex, 1);
    // While a start is under way a step is refused, as a click is.
    proxy.Route(StationAddresses[2],
                kit::Script().Send(kit::Script::IcyHead({"content-type:audio/mpeg"}) + Tone().substr(0, 6000)).Hang());
    QTest::keyClick(window->EditInput, Qt::Key_Right, Qt::AltModifier);
    ASSERT_TRUE(Pump([&] { return Panel(0).rfind(Ansi("Заполняем буфер... "), 0) == 0; }, 5000));
    QTest::keyClick(window->EditInput, Qt::Key_Right, Qt::AltModifier);
    EXPECT_EQ(StationIndex, 2);
    EXPECT_EQ(Messages(), "beep\n");

    // Names and descriptions, as the accessibility interface gives them.
    QAccessibleInterface* button = QAccessible::queryAccessibleInterface(window->StationButtons[4]);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(QAccessible::Name), QString::fromUtf8("Станция 5"));
    EXPECT_EQ(button->text(QAccessible::Description), QString::fromLatin1(StationAddresses[4]));
    const struct {
        QToolButton* button;
        const char* name;
    } tools[] = {{window->SpeedButtonMemoOn, "Прослушанные музыкальные композиции"},
                 {window->SpeedButtonOption, "Опции программы"},
                 {window->SpeedButtonAbout, "О программе"}};
    for (const auto& tool : tools) {
        QAccessibleInterface* interface = QAccessible::queryAccessibleInterface(tool.button);
        ASSERT_NE(interface, nullptr);
        EXPECT_EQ(interface->text(QAccessible::Name), QString::fromUtf8(tool.name));
    }
    // The station buttons stay out of the tab order.
    for (StationButton* station : window->StationButtons) EXPECT_FALSE(station->focusPolicy() & Qt::TabFocus);
}

// What a label shows, as a picture: as it is, or read in the given format
// (its own format comes back afterwards).
QImage LabelPicture(QLabel* label, std::optional<Qt::TextFormat> format = std::nullopt)
{
    const Qt::TextFormat own = label->textFormat();
    if (format) label->setTextFormat(*format);
    const QImage picture = label->grab().toImage();
    label->setTextFormat(own);
    return picture;
}

TEST_F(ProgramTest, StationTextsShowCharacterForCharacterNeverAsMarkup)
{
    const std::string name = "<b>Bold</b> &amp; <i>it</i>";
    const std::string bitrate = "<br>128";
    const std::string title = "a < b > c &amp; d<br>e";
    proxy.Route(StationAddresses[0], Station(name, {"StreamTitle='" + title + "';"}, bitrate));
    Start();
    ASSERT_TRUE(WorkerDone());
    EXPECT_EQ(Panel(0), name);
    EXPECT_EQ(Panel(1), "bitrate: " + bitrate);
    for (int panel : {0, 1}) {
        SCOPED_TRACE(panel);
        QLabel* label = window->StatusBar->PanelLabel(panel);
        EXPECT_EQ(label->text().toStdString(), Panel(panel));
        // Read as markup the text would look different: the panel shows it
        // as plain text.
        ASSERT_NE(LabelPicture(label, Qt::RichText), LabelPicture(label, Qt::PlainText));
        EXPECT_EQ(LabelPicture(label), LabelPicture(label, Qt::PlainText));
    }
    // The caption and the taskbar text are plain by nature; the title
    // reaches them whole.
    EXPECT_EQ(CurrentTitle, title);
    window->SetCaption(CaptionPrefix, CurrentTitle);
    EXPECT_EQ(window->windowTitle(), Shown(CaptionPrefix) + QString::fromStdString(title));
    EXPECT_TRUE(Pump([&] { return ApplicationTitle().trimmed() == QString::fromStdString(title); }, 15000));

    // A hint shows its text as it stands, markup or not.
    for (const QString& text : {QString::fromStdString(name), QString::fromStdString(title),
                               QString("http://radio.example/a?b=1&c=2"), QString("1 < 2")}) {
        SCOPED_TRACE(text.toStdString());
        const QString hint = PlainHint(text);
        if (Qt::mightBeRichText(hint)) {
            QTextDocument shown;
            shown.setHtml(hint);
            EXPECT_EQ(shown.toPlainText(), text);
        } else {
            EXPECT_EQ(hint, text);
        }
    }
    EXPECT_EQ(window->StationButtons[10]->toolTip(), PlainHint(QString::fromLatin1(StationAddresses[10])));
}

QImage Picture(PaintBox* box)
{
    return box->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

TEST_F(ProgramTest, PicturesShowSilenceFirstAndMoveWhileAStationPlays)
{
    // As in a fresh process: nothing captured yet.
    WaveCapture.fill(0);
    SpectrumCapture.fill(0);
    Start();
    // The visual timer's ticks, counted after the window's own handler has
    // drawn the pictures (handlers run in the order they were connected).
    int ticks = 0;
    QObject counter;
    QObject::connect(window->TimerVisual, &QTimer::timeout, &counter, [&ticks] { ++ticks; });
    ASSERT_TRUE(Pump([&] { return ticks >= 1; }, 3000));
    const QImage silent = Picture(window->PaintBoxOsc);
    for (int x = 0; x < 257; ++x)
        for (int y = 0; y < 105; ++y)
            ASSERT_EQ(silent.pixel(x, y), (y == 52 && x >= 5) ? qRgb(0, 255, 0) : qRgb(0, 0, 0)) << x << "," << y;
    // The spectrum shows only its peak dashes on the bottom row.
    const QImage spectrum = Picture(window->PaintBoxSpectr);
    EXPECT_EQ(spectrum.pixel(1, 104), qRgb(255, 255, 0));
    EXPECT_EQ(spectrum.pixel(1, 103), qRgb(0, 0, 0));

    // Item "2": a red ring of radius about 50 around (100, 59).
    const int clickedAt = ticks;
    window->RadioGroupTypeItems[1]->click();
    ASSERT_TRUE(Pump([&] { return ticks > clickedAt; }, 3000));
    EXPECT_EQ(Picture(window->PaintBoxCucleOsc).pixel(100 + 49, 59), qRgb(255, 0, 0));
    window->RadioGroupTypeItems[3]->click();
    EXPECT_EQ(CircleView->RenderMode, 1);
    EXPECT_EQ(CircleView->BaseRadius, 20);
    window->RadioGroupTypeItems[0]->click();
    EXPECT_EQ(CircleView->TraceColor, 0xFFFFFFu);
    EXPECT_EQ(CircleView->Gain, 250);
    EXPECT_EQ(CircleView->BaseRadius, 0);

    // The start-up's station (slot 1, not found here) has been tried, so
    // that the click is taken.
    ASSERT_TRUE(WorkerDone());
    proxy.Route(StationAddresses[2], Station("Tone"));
    QTest::mouseClick(window->StationButtons[2], Qt::LeftButton);
    EXPECT_EQ(StationIndex, 2);
    ASSERT_TRUE(WorkerDone());
    ASSERT_TRUE(Pump([&] { return Picture(window->PaintBoxOsc) != silent; }, 3000));
    const QImage first = Picture(window->PaintBoxOsc);
    ASSERT_TRUE(Pump([&] { return Picture(window->PaintBoxOsc) != first; }, 1000));

    // Each tick's pictures reach the screen with the window's next paint:
    // ticks run here by hand, until the sound has moved, and once the event
    // loop has painted, what the window shows is each box's picture.
    window->TimerVisual->stop();
    for (int tick = 0; tick < 5; ++tick) {
        const QImage before = Picture(window->PaintBoxOsc);
        for (int i = 0; i < 400 && Picture(window->PaintBoxOsc) == before; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            window->TimerVisualTimer();
        }
        ASSERT_NE(Picture(window->PaintBoxOsc), before);
        for (PaintBox* box : {window->PaintBoxCucleOsc, window->PaintBoxOsc, window->PaintBoxSpectr}) {
            const auto shown = [&] {
                return window->screen()
                    ->grabWindow(window->winId(), box->x(), box->y(), box->width(), box->height())
                    .toImage()
                    .convertToFormat(QImage::Format_RGB32);
            };
            EXPECT_EQ(Picture(box), box->Picture().convertToFormat(QImage::Format_RGB32));
            ASSERT_TRUE(Pump([&] { return shown() == box->Picture(); }, 2000))
                << "tick " << tick << ", box at " << box->y();
        }
    }
    window->TimerVisual->start();
}

TEST_F(ProgramTest, ATickThatChangesNoPictureCopiesAndFlushesNothing)
{
    Start();
    window->TimerVisual->stop();
    PaintBox* box = window->PaintBoxOsc;
    TBitmap picture(box->width(), box->height());
    picture.PenColor = 0x00FF00;
    picture.MoveTo(0, 10);
    picture.LineTo(200, 50);
    ASSERT_TRUE(BitBlt(box->Surface(), 0, 0, picture.Width(), picture.Height(), picture.Handle(), 0, 0, SRCCOPY));
    EXPECT_TRUE(PaintBox::ShowChanges({window->PaintBoxCucleOsc, box, window->PaintBoxSpectr}));
    // The same picture again: nothing to copy, nothing to flush.
    ASSERT_TRUE(BitBlt(box->Surface(), 0, 0, picture.Width(), picture.Height(), picture.Handle(), 0, 0, SRCCOPY));
    EXPECT_FALSE(PaintBox::ShowChanges({window->PaintBoxCucleOsc, box, window->PaintBoxSpectr}));
    picture.SetPixel(3, 3, 0xFFFFFF);
    ASSERT_TRUE(BitBlt(box->Surface(), 0, 0, picture.Width(), picture.Height(), picture.Handle(), 0, 0, SRCCOPY));
    EXPECT_TRUE(PaintBox::ShowChanges({window->PaintBoxCucleOsc, box, window->PaintBoxSpectr}));
    EXPECT_EQ(box->Picture().pixel(3, 3), qRgb(255, 255, 255));
    // Silence settles: the spectrum's peaks fall to the floor, and after
    // that a tick with nothing new to show shows nothing.
    WaveCapture.fill(0);
    SpectrumCapture.fill(0);
    for (int tick = 0; tick < 200; ++tick) window->TimerVisualTimer();
    int changed = 0;
    for (int tick = 0; tick < 20; ++tick) {
        OscView->RenderFrame(box->Surface(), WaveCapture, 5, box->height() / 2);
        changed += PaintBox::ShowChanges({box}) ? 1 : 0;
    }
    EXPECT_EQ(changed, 0);
    window->TimerVisual->start();
}

TEST_F(ProgramTest, TheAddressBoxGivesBackTheBytesItWasGivenUntilTheUserTypes)
{
    Start();
    // UTF-8, windows-1251 and bytes that are neither.
    for (const std::string& bytes : {std::string("http://radio.example/\xD0\x9A\xD0\xB8"),
                                    std::string("http://radio.example/\xCA\xE8"),
                                    std::string("http://radio.example/\x98\xFF\xC0")}) {
        window->SetEditText(bytes);
        EXPECT_EQ(window->EditText(), bytes);
    }
    // A typed text goes by the text rule.
    window->EditInput->setFocus();
    window->EditInput->end(false);
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromUtf8("ф"));
    QApplication::sendEvent(window->EditInput, &press);
    EXPECT_EQ(window->EditText(), Bytes(window->EditInput->text()));
    EXPECT_EQ(window->EditText().back(), '\xF4');  // "ф" in windows-1251
    // The settings file keeps a stored address as it was.
    window->SetEditText("http://radio.example/\x98\xFF\xC0");
    Stop();
    EXPECT_NE(Settings().find("LastStation=http://radio.example/\x98\xFF\xC0\r\n"), std::string::npos);
}

TEST_F(ProgramTest, TheWindowIsPlacedPixelByPixel)
{
    Start();
    EXPECT_EQ(window->size(), QSize(856, 441));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());  // no resizing
    EXPECT_EQ(window->windowTitle(), QString::fromUtf8("Интернет радио приемник"));
    EXPECT_EQ(window->GroupBox1->geometry(), QRect(8, 32, 569, 337));
    EXPECT_EQ(window->GroupBox1->title().size(), 141);
    // Whatever font stands in for "MS Sans Serif", the ten genres fit the box.
    EXPECT_LE(QFontMetrics(window->GroupBox1->font()).horizontalAdvance(window->GroupBox1->title().remove('&')),
              569);
    EXPECT_EQ(window->StationButtons[0]->geometry(), QRect(8, 14, 48, 25));
    EXPECT_EQ(window->StationButtons[99]->geometry(), QRect(8 + 56 * 9, 14 + 32 * 9, 48, 25));
    EXPECT_EQ(window->StationButtons[10]->text(), "11");
    EXPECT_EQ(window->StationGroup->id(window->StationButtons[10]), 10);
    EXPECT_EQ(window->StationButtons[10]->toolTip(), QString::fromLatin1(StationAddresses[10]));
    EXPECT_EQ(window->StationButtons[0]->focusPolicy(), Qt::NoFocus);
    EXPECT_FALSE(window->SpeedButton1->isVisible());
    EXPECT_EQ(window->PaintBoxOsc->geometry(), QRect(584, 157, 257, 105));
    EXPECT_EQ(window->PaintBoxSpectr->geometry(), QRect(584, 264, 257, 105));
    EXPECT_EQ(window->PaintBoxCucleOsc->geometry(), QRect(584, 37, 201, 118));
    EXPECT_EQ(window->StatusBar->geometry(), QRect(0, 422, 856, 19));
    EXPECT_EQ(window->StatusBar->PanelLabel(0)->text(), QString::fromUtf8("Станция"));
    EXPECT_TRUE(window->RadioGroupTypeItems[0]->isChecked());
    EXPECT_EQ(window->focusWidget(), window->EditInput);

    // Typing stops at 99 characters; a longer text of the program's stays.
    window->EditInput->clear();
    QTest::keyClicks(window->EditInput, QString(120, 'x'));
    EXPECT_EQ(window->EditInput->text().size(), 99);
    const std::string longer(150, 'y');
    window->SetEditText(longer);
    EXPECT_EQ(window->EditText(), longer);
    QTest::keyClick(window->EditInput, Qt::Key_Backspace);
    EXPECT_EQ(window->EditText().size(), 149u);
}

}  // namespace
}  // namespace program_test
