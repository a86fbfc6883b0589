// The program as an MPRIS2 player on a private session bus that the test
// starts: its properties, each method, and the PropertiesChanged signals on
// a title change, a station change, a stop and a volume change.
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <signal.h>

#include "StationAddresses.h"
#include "mpris.h"
#include "program_test.h"
#include "station_button.h"

namespace program_test {

// Keeps every PropertiesChanged of the player interface.
class ChangeLog : public QObject {
    Q_OBJECT
public:
    std::vector<QVariantMap> changes;
public slots:
    void Got(const QString& interface, const QVariantMap& changed, const QStringList&)
    {
        if (interface == "org.mpris.MediaPlayer2.Player") changes.push_back(changed);
    }
};

namespace {

const char* const kPath = "/org/mpris/MediaPlayer2";
const char* const kPlayer = "org.mpris.MediaPlayer2.Player";
const char* const kRoot = "org.mpris.MediaPlayer2";

// A dbus-daemon of the test's own, for the whole program.
struct Bus {
    std::string address;
    pid_t pid = -1;
    Bus()
    {
        FILE* out = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
        if (out == nullptr) return;
        char line[512];
        if (std::fgets(line, sizeof line, out)) address = std::string(line).substr(0, std::strcspn(line, "\n"));
        if (std::fgets(line, sizeof line, out)) pid = std::atoi(line);
        pclose(out);
    }
    ~Bus()
    {
        if (pid > 0) kill(pid, SIGTERM);
    }
};

Bus& TheBus()
{
    static Bus bus;
    return bus;
}

struct Mpris : ProgramTest {
    std::unique_ptr<MprisService> service;
    QDBusConnection client{QString()};
    ChangeLog log;

    void StartWithBus()
    {
        ASSERT_FALSE(TheBus().address.empty()) << "dbus-daemon did not start";
        Start();
        service = std::make_unique<MprisService>(window.get());
        ASSERT_TRUE(
            service->Register(QDBusConnection::connectToBus(QString::fromStdString(TheBus().address), "service")));
        client = QDBusConnection::connectToBus(QString::fromStdString(TheBus().address), "client");
        ASSERT_TRUE(client.isConnected());
        ASSERT_TRUE(client.connect(service->BusName(), kPath, "org.freedesktop.DBus.Properties",
                                   "PropertiesChanged", &log, SLOT(Got(QString, QVariantMap, QStringList))));
    }
    void TearDown() override
    {
        service.reset();
        client = QDBusConnection(QString());
        QDBusConnection::disconnectFromBus("client");
        QDBusConnection::disconnectFromBus("service");
        ProgramTest::TearDown();
    }

    QDBusMessage Call(const char* interface, const char* method, const QVariantList& arguments = {})
    {
        QDBusMessage call = QDBusMessage::createMethodCall(service->BusName(), kPath, interface, method);
        call.setArguments(arguments);
        return client.call(call, QDBus::BlockWithGui, 5000);
    }
    QVariant Property(const char* interface, const char* name)
    {
        const QDBusMessage reply = Call("org.freedesktop.DBus.Properties", "Get", {interface, name});
        if (reply.type() != QDBusMessage::ReplyMessage) return {};
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }
    QVariantMap Metadata()
    {
        const QVariant value = Property(kPlayer, "Metadata");
        QVariantMap map;
        value.value<QDBusArgument>() >> map;
        return map;
    }
    bool Changed(const char* name, const std::function<bool(const QVariant&)>& test, int timeoutMs = 8000)
    {
        return Pump(
            [&] {
                for (const QVariantMap& change : log.changes)
                    if (change.contains(name) && test(change.value(name))) return true;
                return false;
            },
            timeoutMs);
    }
};

// A Metadata value as PropertiesChanged carries it.
QVariantMap AsMap(const QVariant& value)
{
    if (value.canConvert<QVariantMap>() && value.metaType() == QMetaType::fromType<QVariantMap>())
        return value.toMap();
    QVariantMap map;
    value.value<QDBusArgument>() >> map;
    return map;
}

TEST_F(Mpris, ThePlayerShowsWhatPlaysAndItsVolume)
{
    proxy.Route(StationAddresses[0], Station("Radio One", {"StreamTitle='Song A';"}));
    StartWithBus();
    EXPECT_EQ(service->BusName(), "org.mpris.MediaPlayer2.ondalux");
    EXPECT_EQ(Property(kRoot, "Identity").toString(), "Ondalux");
    EXPECT_EQ(Property(kRoot, "DesktopEntry").toString(), "ondalux");
    EXPECT_TRUE(Property(kRoot, "CanQuit").toBool());
    EXPECT_TRUE(Property(kRoot, "CanRaise").toBool());
    for (const char* can : {"CanGoNext", "CanGoPrevious", "CanPlay", "CanPause", "CanControl"})
        EXPECT_TRUE(Property(kPlayer, can).toBool()) << can;
    EXPECT_FALSE(Property(kPlayer, "CanSeek").toBool());
    ASSERT_TRUE(WorkerDone());
    ASSERT_TRUE(Pump([&] { return Metadata().value("xesam:title").toString() == "Song A"; }, 8000));
    EXPECT_EQ(Property(kPlayer, "PlaybackStatus").toString(), "Playing");
    const QVariantMap metadata = Metadata();
    EXPECT_EQ(metadata.value("xesam:artist").toStringList(), QStringList{"Radio One"});
    EXPECT_EQ(metadata.value("xesam:album").toString(), "Radio One");
    EXPECT_EQ(metadata.value("xesam:url").toString(), StationAddresses[0]);
    EXPECT_TRUE(metadata.value("mpris:trackid").value<QDBusObjectPath>().path().startsWith("/org/ondalux/track/"));
    // The volume both ways: the bar's, and the bar follows the bus.
    window->ScrollBarVolume->setValue(40);
    EXPECT_DOUBLE_EQ(Property(kPlayer, "Volume").toDouble(), 0.4);
    EXPECT_TRUE(Changed("Volume", [](const QVariant& v) { return v.toDouble() == 0.4; }));
    const QDBusMessage set = Call("org.freedesktop.DBus.Properties", "Set",
                                  {kPlayer, "Volume", QVariant::fromValue(QDBusVariant(0.75))});
    EXPECT_EQ(set.type(), QDBusMessage::ReplyMessage) << set.errorMessage().toStdString();
    EXPECT_EQ(window->ScrollBarVolume->value(), 75);
    EXPECT_NEAR(BASS_GetVolume(), 0.75, 1e-6);
    Call("org.freedesktop.DBus.Properties", "Set", {kPlayer, "Volume", QVariant::fromValue(QDBusVariant(7.0))});
    EXPECT_EQ(window->ScrollBarVolume->value(), 100);
}

TEST_F(Mpris, EachMethodSteersThePlayer)
{
    for (const int slot : {0, 1, 99}) proxy.Route(StationAddresses[slot], Station("Slot " + std::to_string(slot)));
    StartWithBus();
    ASSERT_TRUE(WorkerDone());
    // Next and Previous step through the presets, wrapping.
    Call(kPlayer, "Previous");
    EXPECT_EQ(StationIndex, 99);
    EXPECT_TRUE(window->StationButtons[99]->isChecked());
    ASSERT_TRUE(WorkerDone());
    Call(kPlayer, "Next");
    EXPECT_EQ(StationIndex, 0);
    ASSERT_TRUE(WorkerDone());
    Call(kPlayer, "Next");
    EXPECT_EQ(StationIndex, 1);
    ASSERT_TRUE(WorkerDone());
    EXPECT_EQ(Property(kPlayer, "PlaybackStatus").toString(), "Playing");
    // Stop, Pause and PlayPause stop it; Play and PlayPause start the last
    // station again.
    const std::size_t requests = proxy.Requests().size();
    ASSERT_TRUE(Pump([] { return std::any_of(WaveCapture.begin(), WaveCapture.end(), [](auto v) { return v != 0; }); },
                     5000));
    Call(kPlayer, "Stop");
    EXPECT_EQ(CurrentStream.load(), 0u);
    // The pictures go back to silence, and stay there.
    int ticks = 0;
    const auto counting = QObject::connect(window->TimerVisual, &QTimer::timeout, [&] { ++ticks; });
    ASSERT_TRUE(Pump([&] { return ticks >= 3; }, 2000));
    QObject::disconnect(counting);
    EXPECT_TRUE(std::all_of(WaveCapture.begin(), WaveCapture.end(), [](auto v) { return v == 0; }));
    EXPECT_TRUE(std::all_of(SpectrumCapture.begin(), SpectrumCapture.end(), [](auto v) { return v == 0; }));
    EXPECT_EQ(Property(kPlayer, "PlaybackStatus").toString(), "Stopped");
    EXPECT_TRUE(Changed("PlaybackStatus", [](const QVariant& v) { return v.toString() == "Stopped"; }));
    Call(kPlayer, "Play");
    ASSERT_TRUE(WorkerDone());
    EXPECT_EQ(proxy.Requests().size(), requests + 1);
    EXPECT_NE(proxy.Requests().back().find(StationAddresses[1]), std::string::npos);
    EXPECT_EQ(Property(kPlayer, "PlaybackStatus").toString(), "Playing");
    Call(kPlayer, "Pause");
    EXPECT_EQ(Property(kPlayer, "PlaybackStatus").toString(), "Stopped");
    Call(kPlayer, "PlayPause");
    ASSERT_TRUE(WorkerDone());
    EXPECT_EQ(Property(kPlayer, "PlaybackStatus").toString(), "Playing");
    Call(kPlayer, "PlayPause");
    EXPECT_EQ(Property(kPlayer, "PlaybackStatus").toString(), "Stopped");
    // OpenUri plays any address, as the address box's Enter would.
    proxy.Route("http://opened.invalid/stream", Station("Opened"));
    Call(kPlayer, "OpenUri", {"http://opened.invalid/stream"});
    EXPECT_EQ(window->EditText(), "http://opened.invalid/stream");
    ASSERT_TRUE(WorkerDone());
    EXPECT_EQ(Panel(0), "Opened");
    EXPECT_EQ(Metadata().value("xesam:url").toString(), "http://opened.invalid/stream");
    // Raise shows the window; Quit closes it as its close box would.
    window->hide();
    Call(kRoot, "Raise");
    EXPECT_TRUE(window->isVisible());
    Call(kRoot, "Quit");
    EXPECT_TRUE(Pump([&] { return !window->isVisible(); }, 2000));
}

TEST_F(Mpris, TitleAndStationChangesAreSignalled)
{
    proxy.Route(StationAddresses[0],
                Station("First", {"StreamTitle='Song A';", "", "", "", "StreamTitle='Song B';"}));
    proxy.Route(StationAddresses[1], Station("Second", {"StreamTitle='Song C';"}));
    StartWithBus();
    ASSERT_TRUE(WorkerDone());
    const auto title = [](const char* song) {
        return [song](const QVariant& v) { return AsMap(v).value("xesam:title").toString() == song; };
    };
    EXPECT_TRUE(Changed("Metadata", title("Song A")));
    EXPECT_TRUE(Changed("Metadata", title("Song B")));
    EXPECT_EQ(Property(kPlayer, "PlaybackStatus").toString(), "Playing");
    log.changes.clear();
    QTest::mouseClick(window->StationButtons[1], Qt::LeftButton);
    EXPECT_TRUE(Changed("Metadata", [](const QVariant& v) {
        const QVariantMap map = AsMap(v);
        return map.value("xesam:album").toString() == "Second" &&
               map.value("xesam:url").toString() == StationAddresses[1];
    }));
    EXPECT_TRUE(Changed("Metadata", title("Song C")));
    // A new song is a new track.
    QStringList tracks;
    for (const QVariantMap& change : log.changes)
        if (change.contains("Metadata"))
            tracks << AsMap(change.value("Metadata")).value("mpris:trackid").value<QDBusObjectPath>().path();
    tracks.removeDuplicates();
    EXPECT_GE(tracks.size(), 2);
}

TEST_F(Mpris, WithoutABusTheProgramRunsAsBefore)
{
    Start();
    MprisService alone(window.get());
    EXPECT_FALSE(alone.Register(QDBusConnection::connectToBus("unix:path=/nonexistent/bus", "nowhere")));
    EXPECT_TRUE(alone.BusName().isEmpty());
    window->ScrollBarVolume->setValue(10);  // nobody told, nothing breaks
    EXPECT_TRUE(WorkerDone());
}

}  // namespace
}  // namespace program_test

#include "mpris_test.moc"
