// The program on the desktop's session bus as an MPRIS2 media player, under
// the name org.mpris.MediaPlayer2.ondalux: the sound menu, the lock screen
// and the media keys see what plays and steer it.
//
// org.mpris.MediaPlayer2: Identity "Ondalux", DesktopEntry "ondalux",
// Raise (the main window to the front) and Quit (the orderly shutdown).
// org.mpris.MediaPlayer2.Player: PlaybackStatus (Playing while there is a
// stream, else Stopped), Metadata (the song on air as the title, the
// station's name as artist and album, its address), Volume (the volume
// bar's, both ways), Play (the last station again), Pause and Stop (the
// stream stops: a live station cannot wait), PlayPause, Next and Previous
// (the neighbouring preset slots). PropertiesChanged follows every change.
//
// Main thread only; the bus's calls arrive through the event loop.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QVariantMap>
#include <string>

class TFormMain;

class MprisService : public QObject {
    Q_OBJECT
public:
    explicit MprisService(TFormMain* window);
    // Gives the name up and leaves the bus.
    ~MprisService() override;

    // Takes the player's name on the bus (another instance's name taken, a
    // name of this process's own) and shows the player there. False, and
    // nothing shown, without a bus or a name.
    bool Register(const QDBusConnection& bus);
    QString BusName() const { return busName_; }

    TFormMain* Window() const { return window_; }
    QString PlaybackStatus() const;
    QVariantMap Metadata();
    double Volume() const;
    void SetVolume(double volume);

private:
    // Tells the bus the properties that differ from what it was told last.
    void Update();

    TFormMain* window_;
    QDBusConnection bus_;
    QString busName_;
    QString toldStatus_;
    QVariantMap toldMetadata_;
    double toldVolume_ = -1;
    // A song is a new track when its address, station or title changes.
    std::string trackKey_;
    qulonglong track_ = 0;
};
