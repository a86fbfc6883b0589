#include "mpris.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QScrollBar>
#include <QStringList>
#include <cmath>
#include <unistd.h>

#include "Main.h"
#include "main_rules.h"
#include "stream_worker.h"

namespace {

constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";
constexpr const char* kPlayerInterface = "org.mpris.MediaPlayer2.Player";

}  // namespace

// The two interfaces, as Qt's adaptors of the service object.
class MprisRoot : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ Yes)
    Q_PROPERTY(bool CanRaise READ Yes)
    Q_PROPERTY(bool HasTrackList READ No)
    Q_PROPERTY(QString Identity READ Identity)
    Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ UriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ MimeTypes)
public:
    explicit MprisRoot(MprisService* service) : QDBusAbstractAdaptor(service), service_(service) {}
    bool Yes() const { return true; }
    bool No() const { return false; }
    QString Identity() const { return "Ondalux"; }
    QString DesktopEntry() const { return "ondalux"; }
    QStringList UriSchemes() const { return {"http", "https"}; }
    QStringList MimeTypes() const
    {
        return {"audio/mpeg", "audio/aac", "audio/ogg", "audio/x-scpls", "audio/x-mpegurl",
                "application/vnd.apple.mpegurl"};
    }

public slots:
    void Raise()
    {
        TFormMain* window = service_->Window();
        window->show();
        window->raise();
        window->activateWindow();
    }
    // After the answer has gone out: the window's close ends the program.
    void Quit() { QMetaObject::invokeMethod(service_->Window(), "close", Qt::QueuedConnection); }

private:
    MprisService* service_;
};

class MprisPlayer : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
    Q_PROPERTY(double Rate READ One WRITE SetRate)
    Q_PROPERTY(double MinimumRate READ One)
    Q_PROPERTY(double MaximumRate READ One)
    Q_PROPERTY(QVariantMap Metadata READ Metadata)
    Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
    Q_PROPERTY(qlonglong Position READ Position)
    Q_PROPERTY(bool CanGoNext READ Yes)
    Q_PROPERTY(bool CanGoPrevious READ Yes)
    Q_PROPERTY(bool CanPlay READ Yes)
    Q_PROPERTY(bool CanPause READ Yes)
    Q_PROPERTY(bool CanSeek READ No)
    Q_PROPERTY(bool CanControl READ Yes)
public:
    explicit MprisPlayer(MprisService* service) : QDBusAbstractAdaptor(service), service_(service) {}
    QString PlaybackStatus() const { return service_->PlaybackStatus(); }
    double One() const { return 1.0; }
    void SetRate(double) {}  // a live station plays at its own pace
    QVariantMap Metadata() const { return service_->Metadata(); }
    double Volume() const { return service_->Volume(); }
    void SetVolume(double volume) { service_->SetVolume(volume); }
    qlonglong Position() const { return 0; }
    bool Yes() const { return true; }
    bool No() const { return false; }

public slots:
    void Next() { service_->Window()->StepStation(1); }
    void Previous() { service_->Window()->StepStation(-1); }
    void Pause() { Stop(); }
    void PlayPause()
    {
        if (CurrentStream.load() != 0)
            Stop();
        else
            Play();
    }
    void Stop() { service_->Window()->StopPlaying(); }
    void Play()
    {
        if (CurrentStream.load() == 0) service_->Window()->PlayAgain();
    }
    void Seek(qlonglong) {}
    void SetPosition(const QDBusObjectPath&, qlonglong) {}
    void OpenUri(const QString& uri)
    {
        const std::string address = uri.toUtf8().toStdString();
        service_->Window()->SetEditText(address);
        StartStreamWorker(address);
    }

signals:
    void Seeked(qlonglong position);

private:
    MprisService* service_;
};

MprisService::MprisService(TFormMain* window) : window_(window), bus_(QString())
{
    new MprisRoot(this);
    new MprisPlayer(this);
    connect(window_, &TFormMain::PlaybackChanged, this, &MprisService::Update);
}

MprisService::~MprisService()
{
    if (busName_.isEmpty()) return;
    bus_.unregisterService(busName_);
    bus_.unregisterObject(kObjectPath);
}

bool MprisService::Register(const QDBusConnection& bus)
{
    if (!bus.isConnected()) return false;
    bus_ = bus;
    QString name = "org.mpris.MediaPlayer2.ondalux";
    if (bus_.interface() != nullptr && bus_.interface()->isServiceRegistered(name))
        name += ".instance" + QString::number(getpid());
    if (!bus_.registerObject(kObjectPath, this, QDBusConnection::ExportAdaptors)) return false;
    if (!bus_.registerService(name)) {
        bus_.unregisterObject(kObjectPath);
        return false;
    }
    busName_ = name;
    toldStatus_ = PlaybackStatus();
    toldMetadata_ = Metadata();
    toldVolume_ = Volume();
    return true;
}

QString MprisService::PlaybackStatus() const
{
    return CurrentStream.load() != 0 ? "Playing" : "Stopped";
}

QVariantMap MprisService::Metadata()
{
    const std::string key = StartedAddress + '\n' + window_->StationName() + '\n' + CurrentTitle;
    if (key != trackKey_) {
        trackKey_ = key;
        ++track_;
    }
    QVariantMap metadata;
    metadata["mpris:trackid"] =
        QVariant::fromValue(QDBusObjectPath("/org/ondalux/track/" + QString::number(track_)));
    if (!CurrentTitle.empty()) metadata["xesam:title"] = Shown(CurrentTitle);
    if (!window_->StationName().empty()) {
        const QString station = Shown(window_->StationName());
        metadata["xesam:artist"] = QStringList{station};
        metadata["xesam:album"] = station;
    }
    if (!StartedAddress.empty()) metadata["xesam:url"] = Shown(StartedAddress);
    return metadata;
}

double MprisService::Volume() const
{
    return window_->ScrollBarVolume->value() / 100.0;
}

void MprisService::SetVolume(double volume)
{
    if (!std::isfinite(volume)) return;
    // The bar moves, and its handler sets the sound's volume.
    window_->ScrollBarVolume->setValue(static_cast<int>(std::lround(std::clamp(volume, 0.0, 1.0) * 100)));
}

void MprisService::Update()
{
    if (busName_.isEmpty()) return;
    QVariantMap changed;
    if (const QString status = PlaybackStatus(); status != toldStatus_) {
        toldStatus_ = status;
        changed["PlaybackStatus"] = status;
    }
    if (QVariantMap metadata = Metadata(); metadata != toldMetadata_) {
        toldMetadata_ = metadata;
        changed["Metadata"] = metadata;
    }
    if (const double volume = Volume(); volume != toldVolume_) {
        toldVolume_ = volume;
        changed["Volume"] = volume;
    }
    if (changed.isEmpty()) return;
    QDBusMessage signal =
        QDBusMessage::createSignal(kObjectPath, "org.freedesktop.DBus.Properties", "PropertiesChanged");
    signal << QString(kPlayerInterface) << changed << QStringList();
    bus_.send(signal);
}

#include "mpris.moc"
