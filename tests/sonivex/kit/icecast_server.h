// A real Icecast 2 server on 127.0.0.1, fed by `ffmpeg` sources that stream
// endless full-scale tones. Each object runs its own server in a fresh
// temporary folder (configuration and logs) and removes it on destruction.
//
// The server and source processes die with the thread that created the
// object (the parent-death signal), so a crashed test leaves nothing behind;
// create the object on a thread that outlives it, as a test body does.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>

namespace kit {

struct IcecastOptions {
    bool burstOnConnect = true;
    int burstSize = 65535;   // bytes sent at line speed to a new listener
    int queueSize = 524288;  // a listener further behind than this is dropped
    int clientTimeoutSeconds = 30;
    int headerTimeoutSeconds = 5;
    int sourceTimeoutSeconds = 10;
};

// What a source announces; Icecast passes it to listeners as icy-name,
// icy-description, icy-genre and icy-url.
struct SourceInfo {
    std::string name = "Ondalux Test Tone";
    std::string description = "A full-scale sine";
    std::string genre = "Test";
    std::string url = "http://127.0.0.1/";
};

class IcecastServer {
public:
    // Starts the server and waits (a few seconds at most) until it answers.
    // Throws std::runtime_error with the server's log when it does not.
    explicit IcecastServer(IcecastOptions options = {});
    ~IcecastServer();
    IcecastServer(const IcecastServer&) = delete;
    IcecastServer& operator=(const IcecastServer&) = delete;

    // Both /usr/bin/icecast2 and an ffmpeg command exist.
    static bool Available();

    int Port() const { return port_; }
    // "http://127.0.0.1:PORT/mount"; a mount without a leading '/' gets one.
    std::string MountUrl(std::string mount) const;
    const std::string& AdminUser() const { return adminUser_; }
    const std::string& AdminPassword() const { return adminPassword_; }
    // The folder with icecast.xml, error.log, access.log and the ffmpeg logs.
    const std::string& Folder() const { return folder_; }

    // Starts an ffmpeg source streaming an endless tone to the mount and
    // waits (bounded) until Icecast lists the mount. Codecs: "mp3"
    // (audio/mpeg), "aac" (ADTS, audio/aac), "vorbis" (application/ogg),
    // "opus" (audio/ogg). Throws std::runtime_error with ffmpeg's log when
    // the mount does not appear.
    void StartSource(std::string mount, std::string codec, int frequency, int bitrateKbps,
                     SourceInfo info = {});
    // Stops the mount's source; its listeners see the end of the stream.
    void StopSource(std::string mount);

    // What a new listener of the mount gets at once: the bytes of audio that
    // arrive within 100 ms of the first, that is Icecast's burst for new
    // listeners (at most IcecastOptions::burstSize; less while the source
    // has not been on the air for that much) and a little live data. Listens
    // for that long, after the server's own delay before it starts sending
    // (half a second or so); 0 when no audio comes within 3 s.
    std::size_t BurstBytes(std::string mount) const;

    // Sets the mount's title through the admin interface (mode=updinfo), as
    // a source client's metadata update would. Without a charset Icecast
    // passes the title's bytes through unchanged (UTF-8 stays UTF-8); with
    // one ("windows-1251") it converts them to ISO-8859-1 and writes the
    // characters Latin-1 lacks as HTML references ("&#1055;").
    // MP3 and AAC mounts send it in their next ICY block ("StreamTitle=
    // '...';"); a Vorbis mount starts a new link of the Ogg chain whose
    // comments carry "title=..."; an Opus mount refuses. Throws
    // std::runtime_error when Icecast refuses.
    void SetTitle(std::string mount, std::string title, std::string charset = "");

private:
    struct Process {
        pid_t pid = -1;
        std::string log;
    };
    void Start();
    static void Stop(Process& process, int graceMs);
    bool Exited(Process& process);
    std::string Get(const std::string& target, bool admin) const;

    IcecastOptions options_;
    std::string folder_;
    int port_ = 0;
    std::string sourcePassword_;
    std::string adminUser_ = "admin";
    std::string adminPassword_;
    Process server_;
    std::map<std::string, Process> sources_;
};

}  // namespace kit
